#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "vyrl/error.hpp"

namespace vyrl {

// Bounds on what reading files may cost one call (a load, a merge, and every
// file its @import and @derive lines pull in), so that a configuration file
// written by someone else cannot exhaust or hang the process reading it.
struct Limits {
  // No single file read may be larger: files are read whole, and a FIFO or a
  // device such as /dev/zero never ends on its own.
  static constexpr std::size_t kDefaultMaxFileBytes = std::size_t{256} << 20;  // 256 MiB
  // No call may load more files through @import and @derive: files reached
  // twice are read twice, so a chain of files that each import the next one
  // twice would otherwise read 2^n files.
  static constexpr std::size_t kDefaultMaxFileLoads = 10'000;

  std::size_t max_file_bytes = kDefaultMaxFileBytes;
  std::size_t max_file_loads = kDefaultMaxFileLoads;
};

// Called around each system call that may block while a file is opened or
// read (a FIFO, a slow disk), so that an embedding runtime can let its other
// threads run meanwhile. Nothing else happens between enter() and leave().
struct Options;

class BlockingCalls {
 public:
  virtual void enter() noexcept = 0;
  virtual void leave() noexcept = 0;
  // Asked, after leave(), when a signal interrupted the call: true to try it
  // again, false to give up the read. A runtime with signal handlers of its
  // own runs them here, as its own reads do, and gives up when one of them
  // asks to stop (Ctrl-C); the read then fails with EINTR.
  virtual bool resume_after_signal() noexcept { return true; }

 protected:
  ~BlockingCalls() = default;
};

// Where the files that @import and @derive lines name are read from, for a
// caller whose texts are not all on disk yet (an editor's unsaved buffers).
// `path` is as the line wrote it. What read() returns is held to the same
// limits as a file read from disk: its size, UTF-8, and the count of files.
class FileReader {
 public:
  virtual Result<std::string> read(std::string_view path) = 0;

 protected:
  ~FileReader() = default;
};

// What the loader does when Options::file_reader is null, for a reader that
// serves some files itself and leaves the rest to the disk.
Result<std::string> read_file_from_disk(std::string_view path, const Options& options);

class Model;

struct Options {
  Limits limits;
  BlockingCalls* blocking_calls = nullptr;  // not owned; null: nothing to do around them
  FileReader* file_reader = nullptr;        // not owned; null: the disk
  // Not owned; null: nothing is recorded. A load or merge given one records
  // into it what it read and decided (see model.hpp), and goes on past a
  // failing line to find every error. parse, load, parse_as and
  // load_standard_input start it afresh; merges add to it, so it must outlive
  // the document or be taken out of its options.
  Model* model = nullptr;
};

}  // namespace vyrl
