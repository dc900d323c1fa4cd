#pragma once
// Holds the structural scan to the byte-by-byte reading it replaces: every
// kernel must cut the same physical lines as cut_physical_line, find the same
// first "=", and call a line plain exactly when none of its bytes needs the
// careful reading. Shared by the scan's tests and its fuzz target.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "lines/lines.hpp"
#include "lines/scan.hpp"

namespace vyrl::scan_reference {

template <class Kernel>
std::optional<std::string> first_difference(std::string_view text, const char* kernel) {
  BasicLineScanner<Kernel> scanner(text);
  std::string_view rest = text;
  for (std::size_t number = 1; !rest.empty(); ++number) {
    const std::string where = std::string(kernel) + ", line " + std::to_string(number) + ": ";
    if (scanner.done()) return where + "the scan ended early";
    const std::size_t offset = text.size() - rest.size();
    const PhysicalLine expected = cut_physical_line(rest);
    const ScannedLine got = scanner.next();
    if (got.offset != offset) return where + "offset " + std::to_string(got.offset);
    if (got.line.content.data() != expected.content.data() || got.line.content != expected.content ||
        got.line.ending != expected.ending) {
      return where + "cut differently";
    }
    const bool plain = std::none_of(expected.content.begin(), expected.content.end(), [](char c) {
      return scan_detail::is_special(static_cast<unsigned char>(c));
    });
    if (got.plain != plain) return where + (plain ? "plain line called careful" : "careful line called plain");
    if (got.equals != expected.content.find('=')) return where + "'=' at " + std::to_string(got.equals);
    if (scanner.position() != text.size() - rest.size()) return where + "next line starts elsewhere";
  }
  if (!scanner.done()) return std::string(kernel) + ": lines past the end";
  if (count_lines(text) != static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1) {
    return std::string("count_lines miscounts");
  }
  return std::nullopt;
}

// Every kernel this build has.
inline std::optional<std::string> first_difference(std::string_view text) {
  if (auto found = first_difference<scan_detail::Portable>(text, "portable")) return found;
#ifdef VYRL_SCAN_SSE2
  if (auto found = first_difference<scan_detail::Sse2>(text, "sse2")) return found;
#endif
  return std::nullopt;
}

}  // namespace vyrl::scan_reference
