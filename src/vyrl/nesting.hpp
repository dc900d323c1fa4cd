#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace vyrl {

// Files loaded through @import and @derive nest; this bounds how deep and
// refuses a file that is already being loaded further up on this thread.
inline constexpr std::size_t kMaxFileNesting = 64;

class FileNestingGuard {
 public:
  enum class Refusal { Cycle, TooDeep };

  // Registers `path` (compared by canonical path) as being loaded until the guard dies.
  static std::expected<FileNestingGuard, Refusal> enter(std::string_view path);

  FileNestingGuard(FileNestingGuard&& other) noexcept : active_(other.active_) { other.active_ = false; }
  FileNestingGuard& operator=(FileNestingGuard&&) = delete;
  FileNestingGuard(const FileNestingGuard&) = delete;
  FileNestingGuard& operator=(const FileNestingGuard&) = delete;
  ~FileNestingGuard();

 private:
  FileNestingGuard() : active_(true) {}
  bool active_;
};

// The reason texts used by the directives for a refusal.
std::string nesting_refusal_reason(FileNestingGuard::Refusal refusal, std::string_view path);

}  // namespace vyrl
