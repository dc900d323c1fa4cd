#include "vyrl/nesting.hpp"

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

namespace vyrl {
namespace {

// Everything runs on the calling thread, so each thread has its own chain of
// files being loaded; documents on other threads cannot interfere.
thread_local std::vector<std::string> loading;

std::string canonical(std::string_view path) {
  std::string raw(path);
  // Resolved as a C string the path would end at its NUL and could pass for a
  // file already being loaded; kept whole, it is refused as invalid on opening.
  if (path.find('\0') != std::string_view::npos) return raw;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(raw.c_str(), nullptr), &std::free);
  // A path that cannot be resolved will fail to open anyway; keep it as written.
  return resolved ? std::string(resolved.get()) : raw;
}

}  // namespace

std::expected<FileNestingGuard, FileNestingGuard::Refusal> FileNestingGuard::enter(std::string_view path) {
  if (loading.size() >= kMaxFileNesting) return std::unexpected(Refusal::TooDeep);
  std::string key = canonical(path);
  for (const std::string& active : loading) {
    if (active == key) return std::unexpected(Refusal::Cycle);
  }
  loading.push_back(std::move(key));
  return FileNestingGuard();
}

FileNestingGuard::~FileNestingGuard() {
  if (active_) loading.pop_back();
}

std::string nesting_refusal_reason(FileNestingGuard::Refusal refusal, std::string_view path) {
  if (refusal == FileNestingGuard::Refusal::Cycle) {
    return "Cycle detected: '" + std::string(path) + "' is already being loaded";
  }
  return "Files nest more than " + std::to_string(kMaxFileNesting) + " levels deep at '" +
         std::string(path) + "'";
}

}  // namespace vyrl
