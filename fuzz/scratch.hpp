#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vyrl::fuzz {

// Directives that read files resolve relative paths against the working
// directory, so every harness runs in a fresh one of its own: whatever name an
// input invents, it reaches only what the harness put there. The fuzzer reads
// its arguments only after this runs, so relative corpus and artifact paths are
// first made absolute, and crash files go to the starting directory unless told
// otherwise; all of them would otherwise resolve inside the scratch directory,
// which is removed on exit.
inline void enter_scratch_directory(int* argc, char*** argv) {
  static std::deque<std::string> absolute;  // stable addresses for the rewritten argv
  static std::vector<char*> arguments;
  char* cwd = ::getcwd(nullptr, 0);
  if (cwd == nullptr) {
    std::perror("vyrl fuzz: working directory");
    ::abort();
  }
  const std::string base = std::string(cwd) + "/";
  ::free(cwd);
  bool artifacts_placed = false;
  arguments.assign(*argv, *argv + *argc);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::string_view arg = arguments[i];
    std::string_view prefix;
    if (arg.starts_with('-')) {
      const std::size_t equals = arg.find('=');
      if (equals == std::string_view::npos) continue;
      const std::string_view flag = arg.substr(0, equals + 1);
      const bool artifacts = flag == "-artifact_prefix=" || flag == "-exact_artifact_path=";
      if (!artifacts && flag != "-dict=") continue;
      artifacts_placed = artifacts_placed || artifacts;
      prefix = flag;
      arg.remove_prefix(equals + 1);
    }
    if (arg.empty() || arg.starts_with('/')) continue;
    arguments[i] = absolute.emplace_back(std::string(prefix) + base + std::string(arg)).data();
  }
  if (!artifacts_placed) arguments.push_back(absolute.emplace_back("-artifact_prefix=" + base).data());
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size() - 1);
  *argv = arguments.data();

  static char scratch[] = "/tmp/vyrl-fuzz-XXXXXX";
  if (::mkdtemp(scratch) == nullptr || ::chdir(scratch) != 0) {
    std::perror("vyrl fuzz: scratch directory");
    ::abort();
  }
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
  });
}

// An absolute or climbing path would still escape the scratch directory, and
// a device such as /dev/zero never ends; inputs that could name one in a
// file-reading directive are skipped.
inline bool may_reach_outside(std::string_view text) {
  if (text.find('/') == std::string_view::npos) return false;
  return text.find("import") != std::string_view::npos || text.find("derive") != std::string_view::npos;
}

}  // namespace vyrl::fuzz
