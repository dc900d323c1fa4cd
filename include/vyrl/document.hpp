#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "vyrl/error.hpp"
#include "vyrl/found_value.hpp"
#include "vyrl/options.hpp"

namespace vyrl {

namespace detail {
struct DocumentState;
struct DocumentAccess;
}  // namespace detail

class VYRL;

// One stored assignment: key and value text, borrowed from the document.
using Entry = std::pair<std::string_view, std::string_view>;

// A read-only view over a document's entries, in no particular order. Like
// the texts it yields, it is valid until the document next changes.
class Entries {
 public:
  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Entry;

    iterator() = default;
    Entry operator*() const;
    iterator& operator++() noexcept {
      ++index_;
      return *this;
    }
    iterator operator++(int) noexcept {
      iterator before = *this;
      ++index_;
      return before;
    }
    friend bool operator==(const iterator&, const iterator&) = default;

   private:
    friend class Entries;
    iterator(const VYRL* document, std::size_t index) noexcept : document_(document), index_(index) {}
    const VYRL* document_ = nullptr;
    std::size_t index_ = 0;
  };

  iterator begin() const noexcept { return {document_, 0}; }
  iterator end() const noexcept;
  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }

 private:
  friend class VYRL;
  explicit Entries(const VYRL& document) noexcept : document_(&document) {}
  const VYRL* document_;
};

// A document: what one or more merged VYRL texts assigned and declared.
// Nothing here throws; every failure is a VyrlError value. A document may be
// read from several threads at once, and changed by one at a time.
class VYRL {
 public:
  VYRL();
  explicit VYRL(const Options& options);
  VYRL(VYRL&&) noexcept;
  VYRL& operator=(VYRL&&) noexcept;
  VYRL(const VYRL&) = delete;
  VYRL& operator=(const VYRL&) = delete;
  ~VYRL();

  // A new document from a text.
  static Result<VYRL> parse(std::string_view text, const Options& options = {});
  // A new document from a whole file (UTF-8); a relative path is taken from
  // the working directory, as are the paths of its @import and @derive lines.
  static Result<VYRL> load(std::string_view path, const Options& options = {});
  // A new document from a text that stands for the file at `path`, which is
  // never opened: errors name `path` as load would, and a text that is not
  // UTF-8 is refused as that file would be. For tools that hold a file's newer
  // text: an editor's unsaved buffer, an edit checked before it is written.
  static Result<VYRL> parse_as(std::string_view text, std::string_view path, const Options& options = {});
  // A new document from everything on standard input.
  static Result<VYRL> load_standard_input(const Options& options = {});

  // Merge a text or a file into this document, line by line: later values,
  // aliases and schemas replace earlier ones of the same name. The first
  // failure ends the merge and what the lines before it did stays. A file that
  // cannot be read leaves the document unchanged.
  Status merge_content(std::string_view text);
  Status merge_file(std::string_view path);

  // The value of `key`, borrowed until the document next changes.
  std::optional<std::string_view> get(std::string_view key) const;
  // Where `key` stands among entries(): positions run from 0 to size() and
  // stay put until the document next changes.
  std::optional<std::size_t> find_position(std::string_view key) const noexcept;
  Entry entry(std::size_t position) const noexcept { return entry_at(position); }
  // The value of `key`; failing that, a key whose value is `key`.
  std::optional<FoundValue> find_obj(std::string_view key) const;
  // A key whose value is `value` (any of them, when several are).
  std::optional<FoundValue> find_key(std::string_view value) const;
  // Follows key -> value -> key ... to a value that is no key, or to the last
  // value before the chain would close a cycle.
  std::optional<FoundValue> find_deep(std::string_view key) const;

  // Checks `value` against a built-in type or one of this document's aliases:
  // NotFound for a type nothing knows, InvalidType for a rejected value.
  Status validate_value(std::string_view type_name, std::string_view value) const;

  std::size_t size() const noexcept;
  Entries entries() const noexcept { return Entries(*this); }

  const Options& options() const noexcept;
  void set_options(const Options& options) noexcept;

 private:
  friend class Entries;
  friend struct detail::DocumentAccess;
  Entry entry_at(std::size_t index) const noexcept;

  std::unique_ptr<detail::DocumentState> state_;
};

inline Entry Entries::iterator::operator*() const { return document_->entry_at(index_); }
inline Entries::iterator Entries::end() const noexcept { return {document_, document_->size()}; }
inline std::size_t Entries::size() const noexcept { return document_->size(); }

}  // namespace vyrl
