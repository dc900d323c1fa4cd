#include "write.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace vyrl::cli {
namespace {

constexpr std::string_view kNotRegular = "not a regular file";
// A waiting writer looks again after 1 ms, then twice as long each time, up
// to this.
constexpr std::chrono::milliseconds kLongestPause{50};

std::string system_error(int error) { return std::strerror(error); }

std::string locked_out() {
  return "another process kept it locked for " + std::to_string(kLockWait.count()) + " s";
}

std::unexpected<EditRefusal> cannot_read(int error) { return std::unexpected(EditRefusal{error, {}}); }
std::unexpected<EditRefusal> refuse(std::string reason) { return std::unexpected(EditRefusal{0, std::move(reason)}); }

// --- No temporary file outlives a signal that ends the process. ---
//
// SIGKILL cannot be caught; the signals that end a process by default and
// come from a terminal, a shell or a supervisor can.

constexpr std::array kEndingSignals{SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXFSZ};

// The temporary file's path while it exists, for the handler to remove: it
// points into the Temporary that owns the path, and a lock-free atomic load
// is safe in a signal handler.
std::atomic<const char*> g_temporary{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);
std::array<struct sigaction, kEndingSignals.size()> g_previous{};
std::array<bool, kEndingSignals.size()> g_installed{};

sigset_t ending_signals() {
  sigset_t signals;
  ::sigemptyset(&signals);
  for (const int signal : kEndingSignals) ::sigaddset(&signals, signal);
  return signals;
}

// Calls only what a signal handler may call (unlink, sigaction, sigprocmask,
// raise): removes the temporary file, then ends the process by the signal as
// it would have ended without the handler.
void remove_temporary_and_end(int signal) {
  if (const char* path = g_temporary.load(); path != nullptr) ::unlink(path);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  ::sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  sigset_t just;
  ::sigemptyset(&just);
  ::sigaddset(&just, signal);
  ::sigprocmask(SIG_UNBLOCK, &just, nullptr);
  ::raise(signal);
}

// Holds the ending signals off while the temporary file and the handler's
// record of it change together; one that arrives meanwhile is handled after.
class SignalsHeld {
 public:
  SignalsHeld() noexcept {
    const sigset_t held = ending_signals();
    ::sigprocmask(SIG_BLOCK, &held, &before_);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }

 private:
  sigset_t before_;
};

void watch(const char* path) {
  g_temporary.store(path);
  struct sigaction handler {};
  handler.sa_handler = remove_temporary_and_end;
  handler.sa_mask = ending_signals();  // one handler at a time
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    // A signal that whoever started vyrl ignores (nohup) stays ignored.
    struct sigaction current {};
    g_installed[i] = ::sigaction(kEndingSignals[i], nullptr, &current) == 0 && current.sa_handler != SIG_IGN &&
                     ::sigaction(kEndingSignals[i], &handler, &g_previous[i]) == 0;
  }
}

void unwatch() {
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    if (g_installed[i]) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  g_temporary.store(nullptr);
}

// A temporary file beside the target: removed, on a signal too, unless it
// was renamed over the target. It stays where it was made, for the signal
// handler holds its path.
class Temporary {
 public:
  explicit Temporary(const std::string& directory) : path_(directory + "/.vyrl-XXXXXX") {
    const SignalsHeld held;
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    watch(path_.c_str());
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (fd_ >= 0) ::close(fd_);
    if (error_ == 0 && !renamed_) {
      const SignalsHeld held;
      ::unlink(path_.c_str());
      unwatch();
    }
  }
  // The errno of a failed creation, or 0.
  int error() const noexcept { return error_; }
  int fd() const noexcept { return fd_; }
  int close() noexcept {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  // 0, or the errno of a failed rename.
  int rename_to(const std::string& target) noexcept {
    const SignalsHeld held;
    if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
    renamed_ = true;
    unwatch();
    return 0;
  }

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool renamed_ = false;
};

// --- Finding and locking the file. ---

class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a write lands: a symbolic link is followed, so that the link stays a
// link and its target gets the new bytes.
std::expected<std::string, int> write_target(const std::string& path) {
  struct stat link;
  if (::lstat(path.c_str(), &link) != 0) return std::unexpected(errno);
  if (!S_ISLNK(link.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::unexpected(errno);
  return std::string(resolved.get());
}

bool same_file(const std::string& path, const struct stat& opened) {
  struct stat now;
  return ::stat(path.c_str(), &now) == 0 && now.st_dev == opened.st_dev && now.st_ino == opened.st_ino;
}

// Opens without waiting for a writer at the other end, should a FIFO have
// taken the file's place since it was looked at, then reads as usual.
int open_at_once(const std::string& path, int access) {
  const int fd = ::open(path.c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fd;
  if (const int flags = ::fcntl(fd, F_GETFL); flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::expected<std::string, int> read_all(int fd) {
  std::string content;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    if (got == 0) return content;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::expected<std::string, int> read_file(std::string_view path) {
  const std::string name(path);
  const bool standard_input = path == "-";
  const int fd = standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(errno);
  auto content = read_all(fd);
  if (!standard_input) ::close(fd);
  return content;
}

std::expected<EditedFile, EditRefusal> EditedFile::open(std::string_view path) {
  const std::string name(path);
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  std::chrono::milliseconds pause{1};
  for (;;) {
    // Looked at before it is opened, a FIFO or a device is refused unread.
    struct stat seen;
    if (::stat(name.c_str(), &seen) != 0) return cannot_read(errno);
    if (!S_ISREG(seen.st_mode)) return refuse(std::string(kNotRegular));
    auto target = write_target(name);
    if (!target) return cannot_read(target.error());
    Descriptor file(open_at_once(*target, O_RDONLY));
    if (file.get() < 0) return cannot_read(errno);
    struct stat opened;
    if (::fstat(file.get(), &opened) != 0) return cannot_read(errno);
    if (!S_ISREG(opened.st_mode)) return refuse(std::string(kNotRegular));

    for (bool writable = false;;) {
      if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) break;
      const int error = errno;
      if (error == EINTR) continue;
      if (error == EBADF && !writable) {
        // NFS emulates flock with a lock over the whole file, which only a
        // descriptor that may write can take exclusively. Should the file
        // have changed meanwhile, the check below sees it.
        Descriptor again(open_at_once(*target, O_RDWR));
        if (again.get() < 0) return refuse("cannot lock it: " + system_error(errno));
        file = std::move(again);
        writable = true;
        continue;
      }
      if (error != EWOULDBLOCK) return refuse("cannot lock it: " + system_error(error));
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return refuse(locked_out());
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, kLongestPause);
    }
    // A writer that waited while the one before renamed its new file over
    // the name holds the lock of a file that is gone: it locks the new one.
    if (same_file(name, opened) && same_file(*target, opened)) return EditedFile(std::move(*target), file.release());
    if (std::chrono::steady_clock::now() >= deadline) return refuse(locked_out());
  }
}

EditedFile::EditedFile(EditedFile&& other) noexcept
    : target_(std::move(other.target_)), fd_(std::exchange(other.fd_, -1)) {}

EditedFile& EditedFile::operator=(EditedFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    target_ = std::move(other.target_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

EditedFile::~EditedFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::expected<std::string, int> EditedFile::read() { return read_all(fd_); }

std::expected<void, std::string> EditedFile::replace(std::string_view content) {
  struct stat status;
  if (::fstat(fd_, &status) != 0) return std::unexpected(system_error(errno));
  // The owner may override a missing write bit (root always can): a file
  // marked read-only is refused all the same, as its owner asked.
  constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
  if ((status.st_mode & kAnyWrite) == 0) return std::unexpected(system_error(EACCES));
  const std::string directory = directory_of(target_);
  struct stat folder;
  if (::stat(directory.c_str(), &folder) != 0) return std::unexpected(system_error(errno));
  if ((folder.st_mode & kAnyWrite) == 0) return std::unexpected("its directory: " + system_error(EACCES));

  Temporary temporary(directory);
  if (temporary.error() != 0) return std::unexpected(system_error(temporary.error()));

  std::string_view rest = content;
  while (!rest.empty()) {
    const ssize_t wrote = ::write(temporary.fd(), rest.data(), rest.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(system_error(errno));
    }
    rest.remove_prefix(static_cast<std::size_t>(wrote));
  }
  // The owner before the mode: changing the owner clears the set-user-ID and
  // set-group-ID bits. Owner and group stay where the caller may set them
  // (root editing another user's file); elsewhere the file simply becomes the
  // caller's, and then loses a set-user-ID or set-group-ID bit that named the
  // old owner or group, as the kernel drops them when another user writes.
  mode_t mode = status.st_mode & 07777;
  if (::fchown(temporary.fd(), status.st_uid, status.st_gid) != 0) {
    if (errno != EPERM) return std::unexpected(system_error(errno));
    struct stat made;
    if (::fstat(temporary.fd(), &made) != 0) return std::unexpected(system_error(errno));
    if (made.st_uid != status.st_uid) mode &= ~S_ISUID;
    if (made.st_gid != status.st_gid) mode &= ~S_ISGID;
  }
  if (::fchmod(temporary.fd(), mode) != 0) return std::unexpected(system_error(errno));
  if (::fsync(temporary.fd()) != 0) return std::unexpected(system_error(errno));
  if (temporary.close() != 0) return std::unexpected(system_error(errno));
  if (const int error = temporary.rename_to(target_); error != 0) return std::unexpected(system_error(error));
  // The rename itself is on disk only once the directory is.
  if (const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace vyrl::cli
