#pragma once

#include <filesystem>
#include <functional>
#include <memory>
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

class Scope;

// An open document as the editor holds it.
struct OpenText {
  std::string uri;
  std::string path;  // the file it stands for, or the URI when it is no file
  std::string text;
  // What loading made of `text` when it was last checked, kept so that a
  // question about an unchanged document is answered without loading it
  // again; null until then.
  std::shared_ptr<const Scope> checked;
};

// What checking one document needs to know about the others: their open
// texts (which win over the disk) and where relative paths start.
struct Workspace {
  std::filesystem::path root;
  Encoding encoding = Encoding::utf16;
  bool read_disk = true;  // off where no file may be touched (fuzzing)
  std::function<const OpenText*(std::string_view path)> find_open;
};

// Every error loading `document` gave, each where it belongs in the
// document: an error in a file it imports or derives from sits on the line
// that led there, with that route as its chain.
std::vector<Diagnostic> diagnose(const Scope& scope);

// What `vyrl check` warns about in `document`, from its own text alone. A
// warning that one of `failures` (what diagnose gave) already says is left
// out; one that names the directive a failing line meant lends it its fix.
std::vector<Diagnostic> warnings_of(const OpenText& document, Encoding encoding, std::vector<Diagnostic>& failures);

}  // namespace vyrl::cli::lsp
