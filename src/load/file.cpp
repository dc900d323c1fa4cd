#include "load/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "text/text.hpp"

namespace vyrl {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Runs one system call that may block between the embedder's enter() and leave().
template <class Call>
auto blocking(const Options& options, Call&& call) {
  if (options.blocking_calls == nullptr) return call();
  options.blocking_calls->enter();
  const auto result = call();
  const int saved = errno;  // leave() may run code that sets errno
  options.blocking_calls->leave();
  errno = saved;
  return result;
}

// Whether a call that a signal interrupted is tried again: always, unless the
// embedder, having run its signal handlers, says to stop.
bool resume(const Options& options) {
  return options.blocking_calls == nullptr || options.blocking_calls->resume_after_signal();
}

// Reads `fd` to its end, or fails once more than `limit` bytes have arrived.
Result<std::string> read_all(int fd, const Options& options) {
  const std::size_t limit = options.limits.max_file_bytes;
  std::string text;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    if (static_cast<std::size_t>(info.st_size) > limit) return fail(VyrlError::io(EFBIG));
    // One spare byte lets the final, empty read happen without growing the buffer.
    text.reserve(static_cast<std::size_t>(info.st_size) + 1);
  }
  for (;;) {
    if (text.size() == text.capacity()) {
      // Never more room than the limit and one byte: that byte tells a file
      // of exactly the limit from a longer one.
      const std::size_t grown = std::min(std::max<std::size_t>(4096, 2 * text.capacity()), limit + 1);
      if (grown <= text.size()) return fail(VyrlError::io(EFBIG));
      text.reserve(grown);
    }
    const std::size_t old = text.size();
    ssize_t got = 0;
    int read_error = 0;
    text.resize_and_overwrite(text.capacity(), [&](char* data, std::size_t size) {
      got = blocking(options, [&] { return ::read(fd, data + old, size - old); });
      if (got < 0) read_error = errno;
      return old + static_cast<std::size_t>(got < 0 ? 0 : got);
    });
    if (got < 0) {
      if (read_error == EINTR && resume(options)) continue;
      return fail(VyrlError::io(read_error));
    }
    if (got == 0) break;
    if (text.size() > limit) return fail(VyrlError::io(EFBIG));
  }
  if (!is_valid_utf8(text)) return fail(VyrlError::invalid_utf8());
  return text;
}

}  // namespace

Result<std::string> read_text_file(std::string_view path, const Options& options) {
  // A NUL inside the path would silently shorten it at the system call.
  if (path.find('\0') != std::string_view::npos) return fail(VyrlError::io(EINVAL));
  const std::string c_path(path);
  int fd = -1;
  // Like the interpreter's own file functions, a signal that interrupts the
  // open is no failure: try again, unless the embedder's handler says stop.
  do {
    fd = blocking(options, [&] { return ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC); });
  } while (fd < 0 && errno == EINTR && resume(options));
  if (fd < 0) return fail(VyrlError::io(errno));
  const FileDescriptor file(fd);
  return read_all(file.get(), options);
}

Result<std::string> read_standard_input(const Options& options) { return read_all(STDIN_FILENO, options); }

Result<std::string> read_file_from_disk(std::string_view path, const Options& options) {
  return read_text_file(path, options);
}

}  // namespace vyrl
