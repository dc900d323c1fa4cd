#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <unistd.h>

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

}  // namespace vyrl::testing
