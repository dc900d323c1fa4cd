#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <unistd.h>
#include <iterator>
#include <utility>
#include <vector>

#include "vyrl/error.hpp"

namespace vyrl::testing {

// A fresh directory that is also the working directory while the test runs,
// because relative paths in directives resolve against the working directory.
class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("vyrl-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 public:
  // Writes `content` to `name` inside the scratch directory, byte for byte.
  static void write(const std::string& name, std::string_view content) {
    std::ofstream out(name, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }

  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

// The message of a failed result, or a marker that makes a comparison fail visibly.
template <class T>
std::string error_message(const Result<T>& result) {
  return result ? std::string("<success>") : result.error().message();
}


#ifdef VYRL_SOURCE_DIR
// Every examples/*.vyr file, by path, with its bytes: tests that must hold for
// each example read them here.
inline std::vector<std::pair<std::filesystem::path, std::string>> example_files() {
  std::vector<std::pair<std::filesystem::path, std::string>> files;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VYRL_SOURCE_DIR) / "examples")) {
    if (entry.path().extension() != ".vyr") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(entry.path(), std::string(std::istreambuf_iterator<char>(in), {}));
  }
  return files;
}
#endif

}  // namespace vyrl::testing
