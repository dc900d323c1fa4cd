#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using LimitsTest = testing::ScratchDir;

Options limited(std::size_t max_file_bytes, std::size_t max_file_loads) {
  Options options;
  options.limits.max_file_bytes = max_file_bytes;
  options.limits.max_file_loads = max_file_loads;
  return options;
}

// Each file imports (or derives from) the next one twice: 2^n loads in all.
std::string chain_file(int i) {
  std::string name = "f";
  name.append(std::to_string(i)).append(".vyr");
  return name;
}

void write_doubling_chain(std::string_view directive, int files) {
  for (int i = 0; i < files; ++i) {
    std::string line(directive);
    line.append(" ").append(chain_file(i + 1)).append("\n");
    testing::ScratchDir::write(chain_file(i), line + line);
  }
  testing::ScratchDir::write(chain_file(files), "leaf = 1\n");
}

TEST_F(LimitsTest, FilesLargerThanTheLimitAreRefusedWhateverTheyAre) {
  write("exact.vyr", "a = 123456\n");  // 11 bytes
  write("over.vyr", "a = 1234567\n");  // 12 bytes
  const Options options = limited(11, 100);
  struct Case {
    std::string text;
    std::string error;
  };
  const std::string too_large = "IO Error: File too large (os error 27)";
  const std::vector<Case> cases = {
      {"@import exact.vyr", ""},
      {"@import over.vyr", too_large},
      {"@import /dev/zero", too_large},  // a device never ends on its own
      {"@derive /dev/zero", too_large},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    VYRL document(options);
    const Status merged = document.merge_content(c.text);
    EXPECT_EQ(merged ? "" : merged.error().message(), c.error);
  }
  EXPECT_EQ(error_message(VYRL::load("over.vyr", options)), too_large);
  EXPECT_TRUE(VYRL::load("exact.vyr", options));
}

TEST_F(LimitsTest, OneCallLoadsABoundedNumberOfFiles) {
  write_doubling_chain("@import", 20);
  VYRL imports(limited(Limits::kDefaultMaxFileBytes, 50));
  const Status imported = imports.merge_content("@import f0.vyr");
  ASSERT_FALSE(imported);
  EXPECT_TRUE(imported.error().is<VyrlError::ParseError>());
  // Which file is the 51st follows the depth-first order of the loads.
  EXPECT_TRUE(std::regex_match(imported.error().message(),
                               std::regex("Parse Error at line 0: 'f\\d+\\.vyr'\\. Reason: More than 50 files loaded by "
                                          "one call at 'f\\d+\\.vyr'")))
      << imported.error().message();

  write_doubling_chain("@derive", 20);
  VYRL derives(limited(Limits::kDefaultMaxFileBytes, 50));
  const Status derived = derives.merge_content("@derive f0.vyr");
  ASSERT_FALSE(derived);
  EXPECT_TRUE(std::regex_match(
      derived.error().message(),
      std::regex("Directive '@derive' error: More than 50 files loaded by one call at 'f\\d+\\.vyr'")))
      << derived.error().message();

  // The count belongs to one call: the next call starts again.
  VYRL reused(limited(Limits::kDefaultMaxFileBytes, 5));
  write("small.vyr", "@import leaf.vyr\n");
  write("leaf.vyr", "x = 1\n");
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(reused.merge_content("@import small.vyr\n@import small.vyr"));
}

}  // namespace
}  // namespace vyrl
