#include "diff.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace vyrl::cli {
namespace {

constexpr std::size_t kContext = 3;
// Beyond this many cells of lines compared the search would take longer than
// a readable diff is worth: the differing middle is then shown as one removal
// and one addition.
constexpr std::size_t kMaxCells = std::size_t{1} << 26;
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

// Lines of the differing middle as numbers, equal where the lines are: the
// search compares them many times over.
using Lines = std::span<const std::uint32_t>;

// A longest common subsequence found by halving (Hirschberg): two rows of
// lengths at a time, never a table, so that memory stays linear in the
// lines however many are compared.
class Aligner {
 public:
  explicit Aligner(std::vector<Op>& ops) : ops_(ops) {}

  void align(Lines a, Lines b) {
    if (a.empty() || b.empty()) {
      ops_.insert(ops_.end(), a.size(), Op::remove);
      ops_.insert(ops_.end(), b.size(), Op::add);
      return;
    }
    if (a.size() == 1) {
      // The first line of b that matches it, as a walk from the front finds.
      const auto match = std::ranges::find(b, a[0]);
      if (match == b.end()) {
        ops_.push_back(Op::remove);
        ops_.insert(ops_.end(), b.size(), Op::add);
        return;
      }
      const auto before = static_cast<std::size_t>(match - b.begin());
      ops_.insert(ops_.end(), before, Op::add);
      ops_.push_back(Op::keep);
      ops_.insert(ops_.end(), b.size() - before - 1, Op::add);
      return;
    }
    const std::size_t half = a.size() / 2;
    lengths(a.first(half), b, false, front_);
    lengths(a.subspan(half), b, true, back_);
    // Where the path crosses the middle line of a: the first column with the
    // longest total, so that removals come before additions as far as they can.
    std::size_t split = 0;
    for (std::size_t k = 1; k <= b.size(); ++k) {
      if (front_[k] + back_[k] > front_[split] + back_[split]) split = k;
    }
    align(a.first(half), b.first(split));
    align(a.subspan(half), b.subspan(split));
  }

 private:
  // row[k]: the longest common subsequence of a with b's first k lines, or,
  // `from_end`, with b's lines from k on.
  static void lengths(Lines a, Lines b, bool from_end, std::vector<std::size_t>& row) {
    const std::size_t m = b.size();
    row.assign(m + 1, 0);
    for (std::size_t step = 0; step < a.size(); ++step) {
      const std::uint32_t line = a[from_end ? a.size() - 1 - step : step];
      std::size_t diagonal = 0;
      for (std::size_t t = 1; t <= m; ++t) {
        const std::size_t k = from_end ? m - t : t;
        const std::size_t neighbour = from_end ? k + 1 : k - 1;
        const std::size_t above = row[k];
        row[k] = line == b[from_end ? k : k - 1] ? diagonal + 1 : std::max(above, row[neighbour]);
        diagonal = above;
      }
    }
  }

  std::vector<Op>& ops_;
  std::vector<std::size_t> front_;
  std::vector<std::size_t> back_;
};

// The edit script between a and b: common prefix and suffix first, then a
// longest common subsequence over what is left, each change's removals
// before its additions, as diff(1) shows them.
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
  if (n > 0 && m > 0 && n > kMaxCells / m) {
    ops.insert(ops.end(), n, Op::remove);
    ops.insert(ops.end(), m, Op::add);
  } else {
    // A line without its line end (the last one) differs from the same text with one.
    std::unordered_map<std::string_view, std::uint32_t> ids[2];
    std::uint32_t count = 0;
    const auto numbered = [&](const std::vector<Line>& lines, std::size_t size) {
      std::vector<std::uint32_t> out;
      out.reserve(size);
      for (std::size_t i = prefix; i < prefix + size; ++i) {
        out.push_back(ids[lines[i].ended ? 1 : 0].try_emplace(lines[i].text, count).first->second);
        if (out.back() == count) ++count;
      }
      return out;
    };
    const std::vector<std::uint32_t> left = numbered(a, n);
    const std::vector<std::uint32_t> right = numbered(b, m);
    Aligner(ops).align(left, right);
  }
  ops.insert(ops.end(), suffix, Op::keep);
  for (auto change = ops.begin(); change != ops.end();) {
    const auto end = std::find(change, ops.end(), Op::keep);
    std::stable_partition(change, end, [](Op op) { return op == Op::remove; });
    change = end == ops.end() ? end : end + 1;
  }
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
  // Line positions at `k` on both sides, carried from hunk to hunk.
  std::size_t ia = 0;
  std::size_t ib = 0;
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

    for (std::size_t i = k; i < start; ++i) {
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
