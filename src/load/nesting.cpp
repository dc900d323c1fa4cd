#include "vyrl/error.hpp"
#include "load/nesting.hpp"

#include <climits>
#include <cstdlib>
#include <memory>

namespace vyrl {
namespace {

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

std::expected<NestingChain::Guard, NestingChain::Refusal> NestingChain::enter(std::string_view path,
                                                                               std::size_t max_loads) {
  if (active_.size() >= kMaxFileNesting) return std::unexpected(Refusal::TooDeep);
  if (loads_ >= max_loads) return std::unexpected(Refusal::TooMany);
  std::string key = canonical(path);
  for (const std::string& active : active_) {
    if (active == key) return std::unexpected(Refusal::Cycle);
  }
  ++loads_;
  active_.push_back(std::move(key));
  return Guard(this);
}

}  // namespace vyrl
