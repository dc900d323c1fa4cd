// Merges arbitrary UTF-8 text into a fresh document, then looks the result up
// the ways a caller would.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reachable_files.hpp"
#include "scratch.hpp"
#include "document/internals.hpp"
#include "text/text.hpp"
#include "vyrl/document.hpp"

namespace {

void read_back(const std::optional<vyrl::FoundValue>& found) {
  if (!found) return;
  if (const auto object = found->as_object()) {
    for (const auto& [key, value] : *object) {
      if (key.empty()) __builtin_trap();  // an inline object never yields an empty key
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  vyrl::fuzz::enter_scratch_directory(argc, argv);
  vyrl::fuzz::write_reachable_files();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!vyrl::is_valid_utf8(text) || vyrl::fuzz::may_reach_outside(text)) return -1;

  vyrl::VYRL document;
  if (const auto merged = document.merge_content(text); !merged) {
    if (merged.error().message().empty()) __builtin_trap();
  }

  // Whatever the merge did, every stored key must still lead to its own value,
  // and every schema must keep the shape the directives promise.
  vyrl::Store& store = vyrl::detail::store_of(document);
  for (const auto& [key, value] : store.values()) {
    const auto found = document.find_obj(key);
    if (!found || found->text() != value) __builtin_trap();
  }
  for (const std::string_view name : store.schema_names()) {
    const vyrl::SchemaDef& schema = *store.schema(name);
    for (const auto& [field, type_name] : schema.fields) {
      if (field.empty() || type_name.empty()) __builtin_trap();
      // The field index must answer for every declared field.
      if (!store.schema_declaring(field)) __builtin_trap();
    }
    for (const auto& optional : schema.optional_fields) {
      if (!schema.fields.contains(optional)) __builtin_trap();
    }
  }

  // A handful of stored keys and values, copied first: the lookups must not
  // depend on the registry staying where it is.
  std::vector<std::string> probes;
  for (const auto& [key, value] : store.values()) {
    if (probes.size() >= 8) break;
    probes.emplace_back(key);
    probes.emplace_back(value);
  }
  probes.emplace_back("");
  for (const std::string& probe : probes) {
    read_back(document.find_obj(probe));
    read_back(document.find_key(probe));
    read_back(document.find_deep(probe));
  }
  return 0;
}
