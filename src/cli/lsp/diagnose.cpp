#include "lsp/diagnose.hpp"

#include <cerrno>
#include <map>
#include <tuple>
#include <utility>

#include "lsp/uri.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli::lsp {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The statement of a line: what comes before a comment ("#" with white space
// or the line's edge on both sides, outside quotes), without surrounding
// blanks, as [first, last) bytes.
std::pair<std::size_t, std::size_t> statement_bytes(std::string_view line) {
  std::size_t end = line.size();
  char quote = 0;
  for (std::size_t p = 0; p < line.size(); ++p) {
    const char c = line[p];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#' && (p == 0 || is_blank(line[p - 1])) && (p + 1 == line.size() || is_blank(line[p + 1]))) {
      end = p;
      break;
    }
  }
  std::size_t begin = 0;
  while (begin < end && is_blank(line[begin])) ++begin;
  while (end > begin && is_blank(line[end - 1])) --end;
  return {begin, end};
}

// The first "=" outside brackets and braces, where the loader splits a key
// from its value.
std::size_t separator(std::string_view statement) {
  long depth = 0;
  for (std::size_t i = 0; i < statement.size(); ++i) {
    const char c = statement[i];
    if (c == '=' && depth == 0) return i;
    if (c == '[' || c == '{') ++depth;
    if ((c == ']' || c == '}') && depth > 0) --depth;
  }
  return std::string_view::npos;
}

std::pair<std::size_t, std::size_t> trimmed(std::string_view line, std::size_t begin, std::size_t end) {
  while (begin < end && is_blank(line[begin])) ++begin;
  while (end > begin && is_blank(line[end - 1])) --end;
  return {begin, end};
}

bool is_name_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':';
}

// Where `name` is written as a whole name in `text`, as a byte offset.
std::optional<std::size_t> find_name(std::string_view text, std::string_view name) {
  if (name.empty()) return std::nullopt;
  for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
    const bool starts = at == 0 || !is_name_character(text[at - 1]);
    const std::size_t after = at + name.size();
    if (starts && (after == text.size() || !is_name_character(text[after]))) return at;
  }
  return std::nullopt;
}

std::filesystem::path resolve(const std::filesystem::path& root, std::string_view written) {
  const std::filesystem::path path(written);
  return (path.is_absolute() ? path : root / path).lexically_normal();
}

// The server reads files while the editor waits, and its own standard input
// is the protocol: a FIFO would block it, and /dev/stdin would eat messages.
// Regular files and directories (which fail at once) are read; nothing else.
bool readable_without_blocking(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return error || status.type() == std::filesystem::file_type::not_found ||
         std::filesystem::is_regular_file(status) || std::filesystem::is_directory(status);
}

// Serves the files that lines name from the editor's open texts first, and
// keeps a copy of each text served so that the chain can point into it.
class WorkspaceReader final : public FileReader {
 public:
  explicit WorkspaceReader(const Workspace& workspace) : workspace_(workspace) {}

  Result<std::string> read(std::string_view path) override {
    const std::filesystem::path resolved = resolve(workspace_.root, path);
    Result<std::string> text = fail(VyrlError::io(ENOENT));
    if (const OpenText* open = workspace_.find_open(resolved.native())) {
      text = open->text;
    } else if (workspace_.read_disk && !readable_without_blocking(resolved)) {
      text = fail(VyrlError::io(EPERM));
    } else if (workspace_.read_disk) {
      text = read_file_from_disk(resolved.native(), Options{});
    }
    if (text) served_.insert_or_assign(std::string(path), *text);
    return text;
  }

  const std::string* served(std::string_view path) const {
    const auto found = served_.find(std::string(path));
    return found == served_.end() ? nullptr : &found->second;
  }

 private:
  const Workspace& workspace_;
  std::map<std::string, std::string> served_;
};

}  // namespace

Range failure_range(std::string_view line, std::size_t line_number, bool value_failed, Encoding encoding) {
  auto [begin, end] = statement_bytes(line);
  if (begin == end) {
    begin = 0;
    end = line.size();
  } else if (line[begin] != '@') {
    const std::size_t equals = separator(line.substr(begin, end - begin));
    if (equals != std::string_view::npos) {
      const auto key = trimmed(line, begin, begin + equals);
      const auto value = trimmed(line, begin + equals + 1, end);
      if (value_failed && value.first < value.second) {
        std::tie(begin, end) = value;
      } else if (key.first < key.second) {
        std::tie(begin, end) = key;
      }
    }
  }
  return Range{{line_number, column_of(line, begin, encoding)}, {line_number, column_of(line, end, encoding)}};
}

std::vector<Diagnostic> warnings_of(const OpenText& document, Encoding encoding, Diagnostic* failure) {
  std::vector<Diagnostic> diagnostics;
  std::vector<Warning> warnings = lint(document.text);
  if (warnings.empty()) return diagnostics;
  // A warning may stand on every line.
  const LineIndex lines(document.text);
  for (Warning& warning : warnings) {
    // Every span a warning has is a word, or the mark, within one line.
    const std::size_t line = warning.where.line - 1;
    const std::string_view written = lines.line(line);
    const Range range{{line, column_of(written, warning.where.column, encoding)},
                      {line, column_of(written, warning.where.column + warning.where.text.size(), encoding)}};
    if (failure != nullptr && failure->fix && failure->fix->uri == document.uri && failure->fix->range == range) {
      continue;
    }
    if (failure != nullptr && !failure->fix && failure->chain.empty() && failure->range.start.line == line &&
        warning.kind == Warning::Kind::unknown_directive) {
      failure->fix = NameFix{document.uri, range, std::move(warning.replacements), {}};
      continue;
    }
    Diagnostic diagnostic{range, std::move(warning.message), {}, std::nullopt, true, {}};
    if (!warning.replacements.empty()) {
      NameFix fix{document.uri, range, std::move(warning.replacements), {}};
      if (warning.kind == Warning::Kind::byte_order_mark) fix.titles.push_back("Remove the byte-order mark");
      diagnostic.fix = std::move(fix);
    }
    diagnostics.push_back(std::move(diagnostic));
  }
  return diagnostics;
}

std::optional<Diagnostic> diagnose(const OpenText& document, const Workspace& workspace) {
  WorkspaceReader reader(workspace);
  Options options;
  options.file_reader = &reader;
  const auto loaded = VYRL::parse_as(document.text, document.path, options);
  if (loaded) return std::nullopt;
  const VyrlError& error = loaded.error();
  const std::vector<Frame>& frames = error.frames();

  // Each frame's text and URI: the document's own for the first, what the
  // reader served (open or on disk) for the files reached from it.
  const auto text_of = [&](std::size_t i) -> const std::string* {
    return i == 0 ? &document.text : reader.served(frames[i].source);
  };
  const auto uri_of = [&](std::size_t i) {
    if (i == 0) return document.uri;
    const std::filesystem::path resolved = resolve(workspace.root, frames[i].source);
    if (const OpenText* open = workspace.find_open(resolved.native())) return open->uri;
    return uri_from_path(resolved.native());
  };
  const auto range_in = [&](std::size_t i, bool value_failed) {
    const std::size_t line = frames[i].line == 0 ? 0 : frames[i].line - 1;
    const std::string* text = text_of(i);
    if (text == nullptr || frames[i].line == 0) return Range{{line, 0}, {line, 0}};
    return failure_range(line_text(*text, line), line, value_failed, workspace.encoding);
  };

  Diagnostic diagnostic;
  diagnostic.message = error.message();
  // A failure further down the chain belongs, in this document, to the
  // @import or @derive line that led to it.
  const bool value_failed = frames.size() == 1 && !error.is<VyrlError::ParseError>();
  if (frames.empty()) {
    diagnostic.range = failure_range(line_text(document.text, 0), 0, false, workspace.encoding);
  } else {
    diagnostic.range = range_in(0, value_failed);
  }

  const std::vector<std::string> notes = describe_location(error);
  for (std::size_t k = 0; k < frames.size() && frames.size() > 1; ++k) {
    const std::size_t i = frames.size() - 1 - k;
    const bool innermost = k == 0;
    diagnostic.chain.push_back(Location{uri_of(i), range_in(i, innermost && !error.is<VyrlError::ParseError>()),
                                        k < notes.size() ? notes[k] : std::string()});
  }

  // A hint goes where the mistake is: the line it names, in the file that
  // failed, or else the failure itself.
  for (const std::string& hint : fix_hints(error)) {
    Location location{document.uri, diagnostic.range, hint};
    if (!frames.empty()) {
      const std::size_t failing = frames.size() - 1;
      location.uri = uri_of(failing);
      location.range = range_in(failing, !error.is<VyrlError::ParseError>());
      const std::string* text = text_of(failing);
      if (error.slip_line() > 0 && text != nullptr) {
        const std::size_t line = error.slip_line() - 1;
        location.range = failure_range(line_text(*text, line), line, true, workspace.encoding);
      }
    }
    diagnostic.hints.push_back(std::move(location));
  }

  // The misspelt name may be written anywhere on the chain (a schema's
  // field in an imported file, checked by an assignment here): the file
  // nearest the failure that writes it gets the fix.
  if (std::vector<std::string> names = suggest_type_names(error.unknown_type()); !names.empty()) {
    for (std::size_t i = frames.size(); i-- > 0;) {
      const std::string* text = text_of(i);
      if (text == nullptr) continue;
      if (const auto at = find_name(*text, error.unknown_type())) {
        const LineIndex lines(*text);
        diagnostic.fix = NameFix{uri_of(i),
                                 Range{lines.position(*at, workspace.encoding),
                                       lines.position(*at + error.unknown_type().size(), workspace.encoding)},
                                 std::move(names), {}};
        break;
      }
    }
  }
  return diagnostic;
}

}  // namespace vyrl::cli::lsp
