#include "write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace vyrl::cli {
namespace {

std::string system_error(int error) { return std::strerror(error); }

// Closes the descriptor and removes the temporary file unless told the
// rename went through.
class Temporary {
 public:
  Temporary(int fd, std::string path) noexcept : fd_(fd), path_(std::move(path)) {}
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  int fd() const noexcept { return fd_; }
  const std::string& path() const noexcept { return path_; }
  int close() noexcept {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  void keep() noexcept { kept_ = true; }

 private:
  int fd_;
  std::string path_;
  bool kept_ = false;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a write lands: a symbolic link is followed, so that the link stays a
// link and its target gets the new bytes.
std::expected<std::string, std::string> write_target(std::string_view path) {
  std::string target(path);
  struct stat link;
  if (::lstat(target.c_str(), &link) != 0) return std::unexpected(system_error(errno));
  if (S_ISLNK(link.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(target.c_str(), nullptr), &std::free);
    if (!resolved) return std::unexpected(system_error(errno));
    target = resolved.get();
  }
  return target;
}

}  // namespace

std::expected<std::string, int> read_file(std::string_view path) {
  const std::string name(path);
  const bool standard_input = path == "-";
  const int fd = standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(errno);
  std::string content;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      if (!standard_input) ::close(fd);
      return std::unexpected(error);
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  if (!standard_input) ::close(fd);
  return content;
}

std::expected<void, std::string> replace_file(std::string_view path, std::string_view content) {
  const auto target = write_target(path);
  if (!target) return std::unexpected(target.error());
  struct stat status;
  if (::stat(target->c_str(), &status) != 0) return std::unexpected(system_error(errno));
  if (!S_ISREG(status.st_mode)) return std::unexpected(std::string("not a regular file"));
  // The owner may override a missing write bit (root always can): a file
  // marked read-only is refused all the same, as its owner asked.
  constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
  if ((status.st_mode & kAnyWrite) == 0) return std::unexpected(system_error(EACCES));
  const std::string directory = directory_of(*target);
  struct stat folder;
  if (::stat(directory.c_str(), &folder) != 0) return std::unexpected(system_error(errno));
  if ((folder.st_mode & kAnyWrite) == 0) return std::unexpected("its directory: " + system_error(EACCES));

  std::string pattern = directory + "/.vyrl-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return std::unexpected(system_error(errno));
  Temporary temporary(fd, pattern);

  std::string_view rest = content;
  while (!rest.empty()) {
    const ssize_t wrote = ::write(temporary.fd(), rest.data(), rest.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(system_error(errno));
    }
    rest.remove_prefix(static_cast<std::size_t>(wrote));
  }
  if (::fchmod(temporary.fd(), status.st_mode & 07777) != 0) return std::unexpected(system_error(errno));
  // Owner and group stay where the caller may set them (root editing another
  // user's file); elsewhere the file simply becomes the caller's.
  if (::fchown(temporary.fd(), status.st_uid, status.st_gid) != 0 && errno != EPERM) {
    return std::unexpected(system_error(errno));
  }
  if (::fsync(temporary.fd()) != 0) return std::unexpected(system_error(errno));
  if (temporary.close() != 0) return std::unexpected(system_error(errno));
  if (::rename(temporary.path().c_str(), target->c_str()) != 0) return std::unexpected(system_error(errno));
  temporary.keep();
  // The rename itself is on disk only once the directory is.
  if (const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace vyrl::cli
