#include "vyrl/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "vyrl/text.hpp"

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

}  // namespace

Result<std::string> read_text_file(std::string_view path) {
  // A NUL inside the path would silently shorten it at the system call.
  if (path.find('\0') != std::string_view::npos) return fail(VyrlError::io(EINVAL));
  const std::string c_path(path);
  FileDescriptor file(::open(c_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return fail(VyrlError::io(errno));

  std::string text;
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    // One spare byte lets the final, empty read happen without growing the buffer.
    text.reserve(static_cast<std::size_t>(info.st_size) + 1);
  }
  int read_error = 0;
  for (;;) {
    if (text.size() == text.capacity()) text.reserve(text.capacity() < 4096 ? 4096 : 2 * text.capacity());
    const std::size_t old = text.size();
    ssize_t got = 0;
    text.resize_and_overwrite(text.capacity(), [&](char* data, std::size_t size) {
      got = ::read(file.get(), data + old, size - old);
      if (got < 0) read_error = errno;
      return old + static_cast<std::size_t>(got < 0 ? 0 : got);
    });
    if (got < 0) {
      if (read_error == EINTR) continue;
      return fail(VyrlError::io(read_error));
    }
    if (got == 0) break;
  }
  if (!is_valid_utf8(text)) return fail(VyrlError::invalid_utf8());
  return text;
}

}  // namespace vyrl
