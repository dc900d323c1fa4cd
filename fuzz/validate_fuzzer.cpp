// Checks arbitrary values against arbitrary type names in a document that
// declares a few aliases and schemas, some of them recursive. The input is the
// type name, a NUL byte, then the value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "scratch.hpp"
#include "document/internals.hpp"
#include "text/text.hpp"
#include "types/validation.hpp"
#include "vyrl/document.hpp"

namespace {

constexpr std::string_view kPrelude =
    "@type port = i32\n"
    "@type speed = physics::meter_per_second\n"
    "@type spot = math::vector3\n"
    "@type when = time::datetime\n"
    "@type names = list<string>\n"
    "@type hue = color\n"
    "@schema Endpoint { host: string, port: port, tls*: bool }\n"
    "@schema Route {\n"
    "  from: Endpoint\n"
    "  to: Endpoint\n"
    "  hops*: list<Endpoint>\n"
    "  speed: speed\n"
    "}\n"
    "@schema Node { name: string, next*: Node, kids*: list<list<Node>> }\n"
    "@schema Grid { rows: list<list<f64>>, at*: spot, tint*: hue }\n";

const vyrl::VYRL& prelude_document() {
  static const vyrl::VYRL document = [] {
    vyrl::VYRL built;
    if (!built.merge_content(kPrelude)) __builtin_trap();
    return built;
  }();
  return document;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  vyrl::fuzz::enter_scratch_directory(argc, argv);
  prelude_document();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!vyrl::is_valid_utf8(input)) return -1;
  const std::size_t nul = input.find('\0');
  const std::string_view type_name = input.substr(0, nul);
  const std::string_view value = nul == std::string_view::npos ? std::string_view{} : input.substr(nul + 1);

  const vyrl::VYRL& document = prelude_document();
  if (const auto valid = document.validate_value(type_name, value); !valid) {
    if (valid.error().message().empty()) __builtin_trap();
  }
  // The same pair as a typed field of a schema, which is how assignments reach it.
  if (const auto valid = vyrl::validate_typed_field(vyrl::detail::store_of(document), type_name, value, "Fuzz", "field"); !valid) {
    if (valid.error().message().empty()) __builtin_trap();
  }
  return 0;
}
