// The unified diff that `vyrl fmt --diff` prints: it must turn the old text
// into the new one, change no more lines than it must, and need memory in
// step with the lines, not with their product.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "diff.hpp"

namespace vyrl::cli {
namespace {

struct Applied {
  std::string text;
  std::size_t changed = 0;  // lines removed or added
};

// Replays `diff` on `before`, as patch(1) would with no fuzz.
Applied patched(const std::string& before, const std::string& diff) {
  std::vector<std::string> old_lines;
  for (std::size_t at = 0; at < before.size();) {
    const std::size_t end = std::min(before.find('\n', at), before.size());
    old_lines.push_back(before.substr(at, end + 1 - at));
    at = end + 1;
  }
  Applied out;
  std::size_t next = 0;  // the first old line not yet copied
  std::istringstream lines(diff);
  std::string line;
  std::getline(lines, line);  // ---
  std::getline(lines, line);  // +++
  bool last_kept = false;  // whether the line before a "\\ No newline" marker went into the text
  while (std::getline(lines, line)) {
    if (line.starts_with("@@ -")) {
      std::size_t start = std::stoul(line.substr(4));
      const std::size_t comma = line.find(',');
      const bool empty = comma < line.find(' ', 4) && std::stoul(line.substr(comma + 1)) == 0;
      if (start > 0 && !empty) --start;
      for (; next < start; ++next) out.text += old_lines[next];
    } else if (line.starts_with('\\')) {
      if (last_kept) out.text.pop_back();
    } else {
      if (line[0] == ' ' || line[0] == '-') ++next;
      if (line[0] != ' ') ++out.changed;
      last_kept = line[0] != '-';
      if (last_kept) out.text += line.substr(1) + "\n";
    }
  }
  for (; next < old_lines.size(); ++next) out.text += old_lines[next];
  return out;
}

std::size_t common_lines(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::vector<std::size_t>> at(a.size() + 1, std::vector<std::size_t>(b.size() + 1, 0));
  for (std::size_t i = a.size(); i-- > 0;) {
    for (std::size_t j = b.size(); j-- > 0;) {
      at[i][j] = a[i] == b[j] ? at[i + 1][j + 1] + 1 : std::max(at[i + 1][j], at[i][j + 1]);
    }
  }
  return at[0][0];
}

TEST(UnifiedDiffTest, TurnsTheOldTextIntoTheNewWithTheFewestChangedLines) {
  std::mt19937 random(7);
  const std::vector<std::string> pool = {"a = 1", "b = 2", "", "# c", "}", "x"};
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> a(random() % 12);
    std::vector<std::string> b(random() % 12);
    for (auto& line : a) line = pool[random() % pool.size()];
    for (auto& line : b) line = pool[random() % pool.size()];
    std::string before;
    std::string after;
    for (const auto& line : a) before += line + "\n";
    for (const auto& line : b) after += line + "\n";
    const bool unended = random() % 4 == 0 && !before.empty();
    if (unended) before.pop_back();  // no final line end
    SCOPED_TRACE(before + "|" + after);
    const std::string diff = unified_diff("f", before, after);
    if (before == after) {
      EXPECT_EQ(diff, "");
      continue;
    }
    const Applied applied = patched(before, diff);
    EXPECT_EQ(applied.text, after) << diff;
    if (!unended) {
      EXPECT_EQ(applied.changed, a.size() + b.size() - 2 * common_lines(a, b)) << diff;
    }
  }
}

// Thousands of lines on each side with a few changes: a table of every pair
// would hold 36 million cells, past what the diff may spend, and showed the
// whole file removed and added again.
TEST(UnifiedDiffTest, ALongFileWithFewChangesGivesSmallHunks) {
  std::string before;
  std::string after;
  for (int i = 0; i < 6000; ++i) {
    const std::string line = "key" + std::to_string(i) + " = " + std::to_string(i * 7) + "\n";
    before += line;
    after += i == 10 || i == 3000 ? "key" + std::to_string(i) + " = changed\n" : line;
    if (i == 5990) after += "added = 1\n";
  }
  const std::string diff = unified_diff("f", before, after);
  EXPECT_EQ(patched(before, diff).text, after);
  EXPECT_EQ(patched(before, diff).changed, 5u);
  EXPECT_EQ(std::count(diff.begin(), diff.end(), '\n'), 2 + 3 * 1 + 3 * 6 + 5);
}

}  // namespace
}  // namespace vyrl::cli
