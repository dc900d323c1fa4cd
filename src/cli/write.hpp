#pragma once

#include <chrono>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace vyrl::cli {

// How long a writer waits for another one to be done with the same file
// before it gives up (the README says so too).
inline constexpr std::chrono::seconds kLockWait{10};

// The whole file at `path` (or standard input for "-") as bytes, or the errno
// of what failed.
std::expected<std::string, int> read_file(std::string_view path);

// Why a file could not be opened for an edit: either it could not be read
// (`read_error`, an errno, to report as any failed read is), or it may not be
// written (`write_refusal`, for "vyrl: cannot write PATH: REASON").
struct EditRefusal {
  int read_error = 0;
  std::string write_refusal;
};

// A file being rewritten: read and replaced under an exclusive lock, so that
// two writers of one file take turns instead of one losing the other's edit.
//
// The lock is flock(2) on the file itself (on a symbolic link's target, the
// file that gets written), so no lock file is ever left behind, and a writer
// that dies, even by SIGKILL, releases it. A writer that waited while the one
// before it renamed a new file over the name holds the lock of a file that is
// gone; it sees that and locks the new file instead. The lock is advisory: it
// keeps vyrl from vyrl, not from other programs.
class EditedFile {
 public:
  // Anything but a regular file is refused before it is opened for reading,
  // so a FIFO or a device is never read. Waits up to kLockWait for another
  // writer, then refuses.
  static std::expected<EditedFile, EditRefusal> open(std::string_view path);

  EditedFile(EditedFile&& other) noexcept;
  EditedFile& operator=(EditedFile&& other) noexcept;
  EditedFile(const EditedFile&) = delete;
  EditedFile& operator=(const EditedFile&) = delete;
  ~EditedFile();  // releases the lock

  // The whole file as bytes, or the errno of what failed.
  std::expected<std::string, int> read();

  // Replaces the file with `content` so that a reader sees either the old
  // bytes or the new ones, never a mix, and a crash leaves one of the two: a
  // temporary file beside the target is written, flushed to disk and renamed
  // over it. The target's mode (set-user-ID and set-group-ID bits included)
  // and, where the caller may set them, owner and group are kept. Being a new
  // file, it is not seen through another hard link to the old one. On any
  // failure, or on SIGHUP, SIGINT, SIGQUIT, SIGTERM or SIGXFSZ meanwhile, the
  // file is left as it was and no temporary file stays behind; a failure's
  // reason comes back.
  std::expected<void, std::string> replace(std::string_view content);

 private:
  EditedFile(std::string target, int fd) noexcept : target_(std::move(target)), fd_(fd) {}

  std::string target_;  // the path written: a symbolic link resolved
  int fd_;              // holds the lock
};

}  // namespace vyrl::cli
