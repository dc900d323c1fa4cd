#include "lsp/diagnose.hpp"

#include <algorithm>
#include <map>
#include <utility>

#include "lsp/scope.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::cli::lsp {
namespace {

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

// Builds the diagnostics of one load, keeping what several errors may ask
// for again: a file with many errors must not be searched once for each.
class Diagnoser {
 public:
  explicit Diagnoser(const Scope& scope) : scope_(scope) {}

  Diagnostic of(const VyrlError& error) {
    const std::vector<Frame>& frames = error.frames();
    Diagnostic diagnostic;
    diagnostic.message = error.message();
    // A failure further down the chain belongs, in this document, to the
    // @import or @derive line that led to it.
    const bool value_failed = frames.size() == 1 && !error.is<VyrlError::ParseError>();
    diagnostic.range = frames.empty() ? scope_.failure_range(0, 1, false) : range_in(frames, 0, value_failed);

    const std::vector<std::string> notes = describe_location(error);
    for (std::size_t k = 0; k < frames.size() && frames.size() > 1; ++k) {
      const std::size_t i = frames.size() - 1 - k;
      const bool innermost = k == 0;
      const bool value_failed_here = innermost && !error.is<VyrlError::ParseError>();
      diagnostic.chain.push_back(Location{uri_of(frames, i), range_in(frames, i, value_failed_here),
                                          k < notes.size() ? notes[k] : std::string()});
    }

    // A hint goes where the mistake is: the line it names, in the file that
    // failed, or else the failure itself.
    for (const std::string& hint : fix_hints(error)) {
      Location location{scope_.uri(0), diagnostic.range, hint};
      if (!frames.empty()) {
        const std::size_t failing = frames.size() - 1;
        location.uri = uri_of(frames, failing);
        location.range = range_in(frames, failing, !error.is<VyrlError::ParseError>());
        if (const auto file = file_of(frames, failing); file && error.slip_line() > 0) {
          location.range = scope_.failure_range(*file, error.slip_line(), true);
        }
      }
      diagnostic.hints.push_back(std::move(location));
    }

    // The misspelt name may be written anywhere on the chain (a schema's
    // field in an imported file, checked by an assignment here): the file
    // nearest the failure that writes it gets the fix.
    if (std::vector<std::string> names = suggest_type_names(error.unknown_type()); !names.empty()) {
      for (std::size_t i = frames.size(); i-- > 0;) {
        const auto file = file_of(frames, i);
        if (!file) continue;
        if (const auto at = written_at(*file, error.unknown_type())) {
          const LineIndex& lines = lines_of(*file);
          const Encoding encoding = scope_.encoding();
          const std::size_t end = *at + error.unknown_type().size();
          diagnostic.fix = NameFix{scope_.uri(*file),
                                   Range{lines.position(*at, encoding), lines.position(end, encoding)},
                                   std::move(names), {}};
          break;
        }
      }
    }
    return diagnostic;
  }

 private:
  std::optional<std::uint32_t> file_of(const std::vector<Frame>& frames, std::size_t i) const {
    if (i == 0) return 0;
    return scope_.file_named(frames[i].source);
  }

  std::string uri_of(const std::vector<Frame>& frames, std::size_t i) const {
    const auto file = file_of(frames, i);
    return scope_.uri(file ? *file : 0);
  }

  Range range_in(const std::vector<Frame>& frames, std::size_t i, bool value_failed) const {
    const std::size_t line = frames[i].line == 0 ? 0 : frames[i].line - 1;
    const auto file = file_of(frames, i);
    if (!file || frames[i].line == 0) return Range{{line, 0}, {line, 0}};
    return scope_.failure_range(*file, frames[i].line, value_failed);
  }

  std::optional<std::size_t> written_at(std::uint32_t file, const std::string& name) {
    const auto [found, added] = names_.try_emplace({file, name});
    if (added) found->second = find_name(scope_.model().files()[file].text, name);
    return found->second;
  }

  const LineIndex& lines_of(std::uint32_t file) {
    auto found = lines_.find(file);
    if (found == lines_.end()) found = lines_.emplace(file, LineIndex(scope_.model().files()[file].text)).first;
    return found->second;
  }

  const Scope& scope_;
  std::map<std::pair<std::uint32_t, std::string>, std::optional<std::size_t>> names_;
  std::map<std::uint32_t, LineIndex> lines_;
};

}  // namespace

std::vector<Diagnostic> warnings_of(const OpenText& document, Encoding encoding, std::vector<Diagnostic>& failures) {
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
    const bool said = std::ranges::any_of(failures, [&](const Diagnostic& failure) {
      return failure.fix && failure.fix->uri == document.uri && failure.fix->range == range;
    });
    if (said) continue;
    if (warning.kind == Warning::Kind::unknown_directive) {
      const auto meant = std::ranges::find_if(failures, [&](const Diagnostic& failure) {
        return !failure.fix && failure.chain.empty() && failure.range.start.line == line;
      });
      if (meant != failures.end()) {
        meant->fix = NameFix{document.uri, range, std::move(warning.replacements), {}};
        continue;
      }
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

std::vector<Diagnostic> diagnose(const Scope& scope) {
  std::vector<Diagnostic> diagnostics;
  Diagnoser diagnoser(scope);
  for (const VyrlError& error : scope.model().errors()) diagnostics.push_back(diagnoser.of(error));
  return diagnostics;
}

}  // namespace vyrl::cli::lsp
