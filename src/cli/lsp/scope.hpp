#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "lsp/diagnose.hpp"
#include "vyrl/model.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl::cli::lsp {

// What an open document means, as the loader decided it: its model, loaded
// through the workspace (open texts first), with what answering an editor
// about it needs on top: each file's URI, the syntax of each, and where each
// place is written. Every answer about names, values and types reads this, so
// that the server never tells the editor something `vyrl check` would not.
class Scope {
 public:
  using Place = Model::Place;

  Scope(const OpenText& document, const Workspace& workspace);
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  const Model& model() const noexcept { return model_; }
  Encoding encoding() const noexcept { return encoding_; }
  // The text it was loaded from, which is file 0 of the model.
  const std::string& text() const { return model_.files().front().text; }
  const SyntaxTree& tree(std::uint32_t file = 0) const { return model_.syntax(file); }
  const std::string& uri(std::uint32_t file) const { return uris_[file]; }
  // The file an error's frame names, as the model read it last.
  std::optional<std::uint32_t> file_named(std::string_view path) const;
  // Whether loading read, or tried to read, the file at `path` (resolved as
  // the workspace resolves paths): a change to it may change this document.
  bool reads(std::string_view path) const { return read_paths_.contains(std::string(path)); }

  // The statement that covers physical line `line` (1-based) of a file.
  const SyntaxLine* statement_at(std::uint32_t file, std::size_t line) const;
  Range range(std::uint32_t file, const Span& span) const;
  // The part of a line a failure belongs to: the directive on a directive
  // line; on an assignment the value when `value_failed`, else the key; the
  // whole statement when it is neither. Line 0 stands for the file's start.
  Range failure_range(std::uint32_t file, std::size_t line, bool value_failed) const;
  // Where the name a declaration or an assignment at `place` declares is written.
  std::optional<Range> name_range(Place place) const;
  // Where field `field` of the @schema at `place` is written.
  std::optional<Range> field_range(Place place, std::string_view field) const;

  // The declarations in effect, in the order they were read.
  std::vector<const Model::Schema*> schemas() const;
  std::vector<const Model::Alias*> aliases() const;
  // What the statement at `place` recorded, if it got so far.
  const Model::Assignment* assignment_at(Place place) const;
  const Model::Schema* schema_at(Place place) const;
  const Model::Alias* alias_at(Place place) const;
  const Model::Read* read_at(Place place) const;
  // "t.vyr:1, imported at s.vyr:2": where a place is and how loading got
  // there, as the model says it, with the document named from the
  // workspace's root as the files it reads are.
  std::string describe(Place place) const;
  // Whether `file` was read through `ancestor`, or is it.
  bool reached_through(std::uint32_t file, std::uint32_t ancestor) const;
  // The errors whose innermost frame is line `line` of the document.
  std::vector<const VyrlError*> errors_at(std::size_t line) const;

 private:
  struct Index {
    std::unordered_map<std::uint64_t, std::size_t> assignments, schemas, aliases, reads;
  };
  const Index& index() const;

  Model model_;
  Encoding encoding_;
  std::vector<std::string> uris_;  // by file
  std::unordered_map<std::string_view, std::uint32_t> files_;
  std::unordered_set<std::string> read_paths_;
  std::string shown_path_;  // the document's, for people
  mutable std::optional<Index> index_;  // built on first use: most edits are never asked about
};

// The model of `document` as it stands: the one it was last checked with
// while its text is unchanged, else one loaded now.
std::shared_ptr<const Scope> scope_of(const OpenText& document, const Workspace& workspace);

Range range_of(std::string_view text, const Span& span, Encoding encoding);
// The same from the tree that holds the span, without a walk over the text
// before it: what a loop over every statement needs.
Range range_of(const SyntaxTree& tree, const Span& span, Encoding encoding);

// What the cursor stands on, read from layout alone: the syntax layer cuts
// lines as loading does, so that this holds for a line that failed too.
struct Pointed {
  enum class Kind { none, key, value, type, directive, path, selector, field } kind = Kind::none;
  std::string text;       // the name, path (as loading reads it) or word
  Span span;              // where it is written
  std::string directive;  // the statement's directive, if it is one
  std::string owner;      // a field's schema, or a selector's base path
  std::uint32_t line = 0;  // the statement's first physical line, 1-based
};
Pointed pointed_at(const SyntaxTree& tree, std::size_t line, std::size_t offset);

}  // namespace vyrl::cli::lsp
