#include "diff.hpp"

#include <algorithm>
#include <vector>

namespace vyrl::cli {
namespace {

constexpr std::size_t kContext = 3;
// Beyond this many cells the table of common lengths would cost more memory
// than a readable diff is worth: the differing middle is then shown as one
// removal and one addition.
constexpr std::size_t kMaxTableCells = std::size_t{1} << 24;
constexpr std::string_view kNoNewline = "\\ No newline at end of file\n";

struct Line {
  std::string_view text;  // without its "\n"
  bool ended;
};

std::vector<Line> split_lines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    if (newline == std::string_view::npos) {
      lines.push_back({text, false});
      break;
    }
    lines.push_back({text.substr(0, newline), true});
    text.remove_prefix(newline + 1);
  }
  return lines;
}

bool same(const Line& a, const Line& b) { return a.text == b.text && a.ended == b.ended; }

enum class Op { keep, remove, add };

// The edit script between a and b: common prefix and suffix first, then a
// longest common subsequence over what is left.
std::vector<Op> edit_script(const std::vector<Line>& a, const std::vector<Line>& b) {
  std::size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && same(a[prefix], b[prefix])) ++prefix;
  std::size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         same(a[a.size() - 1 - suffix], b[b.size() - 1 - suffix])) {
    ++suffix;
  }
  const std::size_t n = a.size() - prefix - suffix;
  const std::size_t m = b.size() - prefix - suffix;
  std::vector<Op> ops(prefix, Op::keep);
  if ((n + 1) * (m + 1) > kMaxTableCells) {
    ops.insert(ops.end(), n, Op::remove);
    ops.insert(ops.end(), m, Op::add);
  } else {
    // common[i][j]: longest common subsequence of a[i..n) and b[j..m) in the middle.
    std::vector<std::size_t> common((n + 1) * (m + 1), 0);
    const auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return common[i * (m + 1) + j]; };
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = m; j-- > 0;) {
        at(i, j) = same(a[prefix + i], b[prefix + j]) ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
      }
    }
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && same(a[prefix + i], b[prefix + j])) {
        ops.push_back(Op::keep);
        ++i;
        ++j;
      } else if (i < n && (j == m || at(i + 1, j) >= at(i, j + 1))) {
        ops.push_back(Op::remove);  // removals first, as diff(1) shows them
        ++i;
      } else {
        ops.push_back(Op::add);
        ++j;
      }
    }
  }
  ops.insert(ops.end(), suffix, Op::keep);
  return ops;
}

void append_line(std::string& out, char sign, const Line& line) {
  out += sign;
  out += line.text;
  out += '\n';
  if (!line.ended) out += kNoNewline;
}

std::string range(std::size_t start, std::size_t count) {
  // A hunk that holds no line of a side names the line before it.
  std::string text = std::to_string(count == 0 ? start : start + 1);
  if (count != 1) {
    text += ',';
    text += std::to_string(count);
  }
  return text;
}

}  // namespace

std::string unified_diff(std::string_view name, std::string_view before, std::string_view after) {
  if (before == after) return {};
  const std::vector<Line> a = split_lines(before);
  const std::vector<Line> b = split_lines(after);
  const std::vector<Op> ops = edit_script(a, b);

  std::string out = "--- " + std::string(name) + "\n+++ " + std::string(name) + "\n";
  std::size_t k = 0;
  while (k < ops.size()) {
    // The next change, with its context; changes closer than twice the
    // context share one hunk.
    std::size_t change = k;
    while (change < ops.size() && ops[change] == Op::keep) ++change;
    if (change == ops.size()) break;
    std::size_t start = change >= kContext ? change - kContext : 0;
    start = std::max(start, k);
    std::size_t end = change;
    for (std::size_t scan = change; scan < ops.size();) {
      if (ops[scan] != Op::keep) {
        end = ++scan;
        continue;
      }
      std::size_t run = scan;
      while (run < ops.size() && ops[run] == Op::keep) ++run;
      if (run == ops.size() || run - scan > 2 * kContext) break;
      scan = run;
    }
    end = std::min(ops.size(), end + kContext);

    // Line positions at `start` on both sides.
    std::size_t ia = 0;
    std::size_t ib = 0;
    for (std::size_t i = 0; i < start; ++i) {
      if (ops[i] != Op::add) ++ia;
      if (ops[i] != Op::remove) ++ib;
    }
    std::size_t count_a = 0;
    std::size_t count_b = 0;
    for (std::size_t i = start; i < end; ++i) {
      if (ops[i] != Op::add) ++count_a;
      if (ops[i] != Op::remove) ++count_b;
    }
    out += "@@ -" + range(ia, count_a) + " +" + range(ib, count_b) + " @@\n";
    for (std::size_t i = start; i < end; ++i) {
      switch (ops[i]) {
        case Op::keep: append_line(out, ' ', a[ia++]); ++ib; break;
        case Op::remove: append_line(out, '-', a[ia++]); break;
        case Op::add: append_line(out, '+', b[ib++]); break;
      }
    }
    k = end;
  }
  return out;
}

}  // namespace vyrl::cli
