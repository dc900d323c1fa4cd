// Any bytes, cut by every kernel of the structural scan and by the byte loop
// it stands for; the first disagreement is a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scan_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (vyrl::scan_reference::first_difference(text)) __builtin_trap();
  return 0;
}
