#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vyrl/error.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl {

namespace detail {
class ModelRecorder;
struct ModelIndex;
}  // namespace detail

// What a loaded document means, as the loader decided it: every file read,
// every statement and what became of it, which assignment of each key wins
// and which schema typed it, every declaration, the graph of @import and
// @derive reads, and every error. Tools read this instead of deciding any of
// it again, so that they can never disagree with loading.
//
// A caller asks for one by pointing Options::model at it; the loader fills it
// while it reads, and nothing is recorded when no model is asked for. A load
// that records goes on after a failing line, as a compiler does, so that one
// pass finds every error (see errors()); the document it builds then holds
// what every line that did not fail did. The first error is always the one a
// plain load gives, and a load without errors builds the same document.
//
// Once the load has returned, a model is never changed by reading it, so any
// number of threads may read it at once.
class Model {
 public:
  // A statement of a file in this model, by its first physical line.
  struct Place {
    std::uint32_t file = 0;  // position in files()
    std::uint32_t line = 0;  // 1-based; 0 stands for the file as a whole
    friend bool operator==(const Place&, const Place&) = default;
  };

  struct File {
    std::string path;  // as the line or the caller named it; "<text>" for a text
    std::string text;  // the bytes read; empty when the file could not be read
    Frame::Origin origin = Frame::Origin::text;
    std::optional<Place> read_by;  // the @import or @derive line that read it
    bool readable = true;
  };

  struct Statement {
    enum class Kind : std::uint8_t { assignment, import, derive, type, schema, unknown };
    enum class Outcome : std::uint8_t {
      applied,   // it did what it says (an assignment may still be replaced later)
      failed,    // it gave an error, recorded in errors()
      followed,  // it failed only because of an earlier error, so none is recorded
    };
    Kind kind = Kind::assignment;
    Outcome outcome = Outcome::applied;
    std::uint32_t line_count = 1;  // physical lines it covers (a block has more)
    Place place;
  };

  // Which schema field checked an assignment's value, as the loader chose
  // when it read that assignment.
  struct Typing {
    std::string_view schema;     // the schema's name
    std::string_view type_name;  // the field's type, as declared
    std::size_t declaration = 0;  // position in schemas()
  };

  // Kept small, as there is one for every assignment read: what is seldom
  // there is a position in another table, or kNone.
  static constexpr std::uint32_t kNone = UINT32_MAX;
  struct Assignment {
    std::string_view key;
    std::string_view value;  // as read: one pair of enclosing quotes removed
    Place place;
    std::uint32_t typing = kNone;    // position in typings(); see typing()
    std::uint32_t replaces = kNone;  // the assignment of the same key it replaced, in assignments()
  };

  // A key of the document and the assignment that gave it its value.
  struct Key {
    std::string_view name;
    std::size_t winner = 0;  // position in assignments(); replaced() has the ones before it
    // When the value came from a @derive line's base file, because this
    // document had none: that line.
    std::optional<Place> derived_at;
  };

  struct Field {
    std::string_view name;
    std::string_view type_name;
    bool optional = false;
  };

  struct Schema {
    std::string_view name;
    Place place;
    std::vector<Field> fields;
    std::optional<std::size_t> replaces;  // the declaration of the same name it replaced
    std::optional<Place> derived_at;      // the @derive line that brought it in, if any
  };

  struct Alias {
    std::string_view name;
    std::string_view definition;
    Place place;
    std::optional<std::size_t> replaces;
    std::optional<Place> derived_at;
  };

  // An @import or @derive line and the file it read.
  struct Read {
    Place by;
    Frame::Origin origin = Frame::Origin::imported;  // imported or derived
    std::string_view written;                        // the path as the line gives it, unquoted
    std::optional<std::uint32_t> file;               // position in files(); none when refused
  };

  // What a type name means in the document: the aliases it goes through and
  // where it ends.
  struct Resolution {
    enum class Ends { builtin, schema, unknown, cycle };
    std::vector<std::size_t> aliases;  // positions in aliases(), outermost first
    Ends ends = Ends::unknown;
    std::string_view name;    // the name it ends at: a built-in type, a schema, or the unknown name
    std::string family;       // for a built-in: "primitive", "list", "time", "math" or "physics"
    // For a built-in, how its values read as numbers, so that a binding or a code generator can
    // choose a number type without knowing the families' members: whole numbers only (i32 and the
    // physics units that count things), and how many numbers a math:: value holds (0 for others).
    bool whole = false;
    std::size_t components = 0;
    // For a list: its item type, as the list's name writes it (a view into that name).
    std::string_view element;
  };

  Model();
  explicit Model(std::size_t max_errors);
  Model(Model&&) noexcept;
  Model& operator=(Model&&) noexcept;
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;
  ~Model();

  // Forgets everything recorded, keeping max_errors.
  void clear();

  const std::deque<File>& files() const noexcept { return files_; }
  std::span<const Statement> statements() const noexcept { return statements_; }
  std::span<const Assignment> assignments() const noexcept { return assignments_; }
  std::span<const Typing> typings() const noexcept { return typings_; }
  // What typed the assignment, or null when no schema declared its key.
  const Typing* typing(const Assignment& assignment) const noexcept {
    return assignment.typing == kNone ? nullptr : &typings_[assignment.typing];
  }
  std::span<const Schema> schemas() const noexcept { return schemas_; }
  std::span<const Alias> aliases() const noexcept { return aliases_; }
  std::span<const Read> reads() const noexcept { return reads_; }

  // The keys of the document, in the order their winning assignments were read; listed by
  // the first call, which a caller that only asks for errors never pays for.
  std::span<const Key> keys() const;
  // The first call builds the index by name, which a caller that walks keys() never pays for.
  const Key* key(std::string_view name) const;
  const Assignment& winner(const Key& key) const noexcept { return assignments_[key.winner]; }
  // The assignments of the key that the winner replaced, oldest first: positions in assignments().
  std::vector<std::size_t> replaced(const Key& key) const;

  // The declarations that are in effect in the document, by name.
  const Schema* schema(std::string_view name) const noexcept;
  const Alias* alias(std::string_view name) const noexcept;
  // Follows aliases in effect from `type_name` (a list's item type is looked at, "list<x>" ends as a
  // built-in of family "list").
  Resolution resolve(std::string_view type_name) const;

  // Every error, in the order loading met them, each with the frames that say where; at most
  // max_errors of them, the rest only counted. An error that only follows from an earlier one is
  // not recorded (see docs/errors.md): a failed @type or @schema line leaves its name unknown, and
  // the errors later lines give for that name are left out.
  std::span<const VyrlError> errors() const noexcept { return errors_; }
  std::size_t errors_left_out() const noexcept { return errors_left_out_; }
  std::size_t max_errors() const noexcept { return max_errors_; }

  // The file at `path` as this model read it, or null. Paths compare as written.
  const File* file(std::string_view path) const noexcept;
  // Where the place is in the file's text, as the syntax layer reads it; built on first use.
  const SyntaxTree& syntax(std::uint32_t file) const;

  // "t.vyr:1", the way people and the tool name a place.
  std::string describe(Place place) const;
  // "t.vyr:1, imported at s.vyr:2": the place, then each line that led to its file.
  std::string describe_with_route(Place place) const;

 private:
  friend class detail::ModelRecorder;

  std::size_t max_errors_;
  std::deque<File> files_;  // a deque, so that views into texts stay put as files are added
  std::vector<Statement> statements_;
  std::vector<Assignment> assignments_;
  std::vector<Typing> typings_;
  // By the document's own positions of its keys: the assignment that wins, or kNone.
  std::vector<std::uint32_t> winners_;
  std::vector<std::pair<std::uint32_t, Place>> derived_;  // assignment -> the @derive line that brought it in
  std::vector<Schema> schemas_;
  std::vector<Alias> aliases_;
  std::vector<Read> reads_;
  std::vector<VyrlError> errors_;
  std::size_t errors_left_out_ = 0;
  std::deque<std::string> kept_;  // names that no file's text holds as written (a block's joined line)
  std::unique_ptr<detail::ModelIndex> index_;
};

}  // namespace vyrl
