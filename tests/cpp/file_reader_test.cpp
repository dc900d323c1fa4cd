#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using FileReaderTest = testing::ScratchDir;
using Texts = std::map<std::string, std::string>;

// Serves texts held in memory, falls back to the disk for the rest, and
// records what it was asked for.
class MemoryReader final : public FileReader {
 public:
  explicit MemoryReader(std::map<std::string, std::string> texts) : texts_(std::move(texts)) {}

  Result<std::string> read(std::string_view path) override {
    asked.emplace_back(path);
    if (const auto found = texts_.find(std::string(path)); found != texts_.end()) return found->second;
    return read_file_from_disk(path, Options{});
  }

  std::vector<std::string> asked;

 private:
  std::map<std::string, std::string> texts_;
};

TEST_F(FileReaderTest, ImportsAndDerivesReadThroughTheReaderBeforeTheDisk) {
  write("types.vyr", "port = 1\n");
  write("disk.vyr", "from_disk = yes\n");
  MemoryReader reader(Texts{{"types.vyr", "port = 2\n@schema S { port: i32 }\n"}});
  Options options;
  options.file_reader = &reader;

  const auto document = VYRL::parse("@import types.vyr\n@import disk.vyr\n@derive types.vyr::S\n", options);
  ASSERT_TRUE(document) << error_message(document);
  EXPECT_EQ(document->get("port"), "2");  // the reader's text, not the file's
  EXPECT_EQ(document->get("from_disk"), "yes");
  EXPECT_EQ(reader.asked, (std::vector<std::string>{"types.vyr", "disk.vyr", "types.vyr"}));
}

TEST_F(FileReaderTest, FailuresInsideAReaderTextNameItsPathAndLine) {
  MemoryReader reader(Texts{{"sub.vyr", "ok = 1\n@schema S { port: i32 }\nport = fast\n"}});
  Options options;
  options.file_reader = &reader;
  const auto document = VYRL::parse_as("a = 1\n\n@import sub.vyr\n", "/work/main.vyr", options);
  ASSERT_FALSE(document);
  EXPECT_EQ(document.error().frames(),
            (std::vector<Frame>{{"/work/main.vyr", 3, Frame::Origin::file}, {"sub.vyr", 3, Frame::Origin::imported}}));
}

TEST_F(FileReaderTest, WhatTheReaderReturnsAnswersToTheLimits) {
  struct Case {
    const char* name;
    std::string served;
    std::size_t max_bytes;
    std::size_t max_loads;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"within the size limit", "a = 1234\n", 9, 10, ""},
      {"over the size limit", "a = 12345\n", 9, 10, "IO Error: File too large (os error 27)"},
      {"not UTF-8", "a = \xff\n", 100, 10, "IO Error: stream did not contain valid UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryReader reader(Texts{{"next.vyr", c.served}});
    Options options;
    options.limits.max_file_bytes = c.max_bytes;
    options.limits.max_file_loads = c.max_loads;
    options.file_reader = &reader;
    const auto document = VYRL::parse("@import next.vyr\n", options);
    EXPECT_EQ(document ? "" : document.error().message(), c.error);
  }
}

TEST_F(FileReaderTest, FilesServedByTheReaderCountTowardsTheFileLimit) {
  std::map<std::string, std::string> chain;
  const auto name = [](int i) {
    std::string text = "f";  // appended, not added up: g++ 12 warns falsely on "f" + ...
    return text.append(std::to_string(i)).append(".vyr");
  };
  for (int i = 0; i < 10; ++i) chain[name(i)] = std::string("@import ").append(name(i + 1)).append("\n");
  MemoryReader reader(chain);
  Options options;
  options.limits.max_file_loads = 5;
  options.file_reader = &reader;
  EXPECT_EQ(error_message(VYRL::parse("@import f0.vyr\n", options)),
            "Parse Error at line 0: 'f5.vyr'. Reason: More than 5 files loaded by one call at 'f5.vyr'");
  EXPECT_EQ(reader.asked.size(), 5u);
}

TEST_F(FileReaderTest, AReaderErrorIsTheFailureOfTheLineThatNamedTheFile) {
  MemoryReader reader(Texts{});
  Options options;
  options.file_reader = &reader;
  const auto document = VYRL::parse_as("@derive gone.vyr\n", "main.vyr", options);
  ASSERT_FALSE(document);
  EXPECT_EQ(document.error().message(), "IO Error: No such file or directory (os error 2)");
  EXPECT_EQ(document.error().frames(),
            (std::vector<Frame>{{"main.vyr", 1, Frame::Origin::file}, {"gone.vyr", 0, Frame::Origin::derived}}));
}

TEST_F(FileReaderTest, ParseAsNamesThePathWithoutReadingIt) {
  const auto document = VYRL::parse_as("a = 1\nbroken\n", "never-written.vyr");
  ASSERT_FALSE(document);
  EXPECT_EQ(document.error().frames(), (std::vector<Frame>{{"never-written.vyr", 2, Frame::Origin::file}}));
  EXPECT_EQ(VYRL::parse_as("a = 1\n", "never-written.vyr")->get("a"), "1");
}

}  // namespace
}  // namespace vyrl
