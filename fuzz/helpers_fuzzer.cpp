// The text-level helpers that every richer path goes through, each on the
// whole input, with the shape of what they return checked.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scratch.hpp"
#include "types/list.hpp"
#include "types/physics.hpp"
#include "types/resolve.hpp"
#include "document/internals.hpp"
#include "literal/literal.hpp"
#include "text/text.hpp"
#include "vyrl/document.hpp"

namespace {

bool is_trimmed(std::string_view text) { return vyrl::trim(text) == text; }

void check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  vyrl::fuzz::enter_scratch_directory(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!vyrl::is_valid_utf8(text)) return -1;

  if (const auto pairs = vyrl::parse_inline_object(text)) {
    for (const auto& [key, value] : *pairs) check(!key.empty() && is_trimmed(key));
  }
  if (const auto items = vyrl::ListType::parse_items(text)) {
    for (const auto& item : *items) check(!item.empty() && is_trimmed(item));
  }
  if (const auto element = vyrl::ListType::parse_inner(text)) check(!element->empty() && is_trimmed(*element));
  (void)vyrl::PhysicsTypes::from_name(text);

  // A name that resolves is then used on the same text as its value.
  if (const auto type = vyrl::resolve_builtin(text)) {
    static const vyrl::VYRL empty;
    (void)(*type)->base_type();
    (void)(*type)->validate(text, vyrl::detail::store_of(empty));
  }
  return 0;
}
