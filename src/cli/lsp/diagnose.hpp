#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/position.hpp"

namespace vyrl::cli::lsp {

struct Range {
  Position start;
  Position end;
  friend bool operator==(const Range&, const Range&) = default;
};

struct Location {
  std::string uri;
  Range range;
  std::string message;
};

// A replacement for a misspelt type name, wherever the name is written.
struct NameFix {
  std::string uri;
  Range range;
  std::vector<std::string> names;  // nearest first
  std::vector<std::string> titles;  // one per name where "Change to 'name'" would not do
};

struct Diagnostic {
  Range range;
  std::string message;  // exactly what `vyrl check` prints after "path:line: "
  std::vector<Location> chain;  // innermost first
  std::optional<NameFix> fix;
  bool warning = false;  // it loads, but likely not as meant
  // How to fix it, each where the mistake is: the failing line, or the line a
  // hint names. Shown after the chain.
  std::vector<Location> hints;
};

// An open document as the editor holds it.
struct OpenText {
  std::string uri;
  std::string path;  // the file it stands for, or the URI when it is no file
  std::string text;
};

// What checking one document needs to know about the others: their open
// texts (which win over the disk) and where relative paths start.
struct Workspace {
  std::filesystem::path root;
  Encoding encoding = Encoding::utf16;
  bool read_disk = true;  // off where no file may be touched (fuzzing)
  std::function<const OpenText*(std::string_view path)> find_open;
};

// Loads `document` as `vyrl check` would load the file, reading the files it
// imports and derives from through the workspace, and says where it failed:
// nothing when it loads.
std::optional<Diagnostic> diagnose(const OpenText& document, const Workspace& workspace);

// What `vyrl check` warns about in `document`, from its own text alone. A
// warning that `failure` (what diagnose gave, if anything) already says is
// left out; one that names the directive a failing line meant lends it its fix.
std::vector<Diagnostic> warnings_of(const OpenText& document, Encoding encoding, Diagnostic* failure);

// The part of a line a failure belongs to: the directive on a directive line;
// on an assignment the value when `value_failed`, else the key; the whole
// statement when there is no "=". Comments and surrounding blanks are left
// out.
Range failure_range(std::string_view line, std::size_t line_number, bool value_failed, Encoding encoding);

}  // namespace vyrl::cli::lsp
