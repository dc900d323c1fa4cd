#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/store.hpp"
#include "vyrl/error.hpp"
#include "vyrl/model.hpp"

namespace vyrl::detail {

// What a load tells a Model as it goes. The loader and the directives call it
// only when a model was asked for, and only at the points where they decide
// something (a line read, a value stored, a declaration made or taken over by
// a @derive), so that the model says what loading did rather than what a
// second reading of the rules would guess.
class ModelRecorder {
 public:
  using Place = Model::Place;

  explicit ModelRecorder(Model& model) : model_(model), settled_(model.assignments_.size()) {}
  ModelRecorder(const ModelRecorder&) = delete;
  ModelRecorder& operator=(const ModelRecorder&) = delete;
  // Settles the keys and declarations of the document into the model.
  ~ModelRecorder();

  // --- Files, and the merges reading them. ---
  // A file or text read whole; the model keeps the bytes, and what the
  // returned view shows is what the merge must read.
  std::string_view add_file(std::string path, std::string text, Frame::Origin origin);
  void add_unreadable_file(std::string path, Frame::Origin origin);
  // A merge of the file added last into `store` begins; ends with leave().
  void enter(Store& store, Frame::Origin origin);
  void leave() noexcept { levels_.pop_back(); }
  // The statement about to be read, at the innermost merge.
  void begin_statement(Model::Statement::Kind kind, std::size_t line, std::size_t line_count);
  // How many things an error could have been counted in: a line whose count
  // changed had its error recorded further down.
  std::size_t error_events() const noexcept { return error_events_; }
  // Records `error` for the statement begun last: gives it the frames of
  // every merge open now, as a plain load's error would carry on its way out.
  // False when the model will take no more errors.
  // `failed_name` is the name a failing @type or @schema line meant to
  // declare, whose later errors are then left out.
  bool record_error(VyrlError error, std::string_view failed_name = {});
  bool full() const noexcept { return full_; }
  // A file the caller named that could not be read: an error of no statement.
  void record_file_error(VyrlError error);

  // --- What statements did. ---
  // The store is told of the value too, maybe only later: which one it
  // replaced is settled by settle(), once the store holds it.
  // `typed` is what the store said types the key, when it checked the value.
  void assigned(std::string_view key, std::string_view value, const std::optional<Store::TypedKey>& typed);
  // Settles the assignments of the innermost merge into `store`, which holds
  // them all by now: before a directive reads or changes the store, and when
  // the merge ends.
  void settle(const Store& store);
  // Room for a merge of `lines` more lines.
  void expect(std::size_t lines);
  void declared_schema(const Store& store, std::string_view name, std::span<const Model::Field> fields);
  void declared_alias(const Store& store, std::string_view name, std::string_view definition);
  void read(Frame::Origin origin, std::string_view written, std::optional<std::uint32_t> file);
  std::uint32_t next_file() const noexcept { return static_cast<std::uint32_t>(model_.files_.size()); }
  // A @derive line took these over from its base store, where absent.
  void took_schema(const Store& into, const Store& base, std::string_view name);
  void took_alias(const Store& into, const Store& base, std::string_view name);
  // Around Store::take_missing_values: which of the base's keys `into`
  // lacks, then where they landed.
  void taking_missing_values(const Store& into, const Store& base);
  void took_missing_values(const Store& into);
  // The base store of a @derive is going away.
  void forget(const Store& base) { stores_.erase(&base); }

 private:
  // What one store holds, by the declarations and assignments that put it there.
  struct StoreState {
    // By the store's own positions, which a value keeps until the store goes:
    // the assignment that wins, found with the probe the store makes anyway.
    std::vector<std::uint32_t> winners;
    std::unordered_map<std::string_view, std::size_t> schemas;
    std::unordered_map<std::string_view, std::size_t> aliases;
  };
  struct Level {
    StoreState* store;
    std::uint32_t file;
    Frame::Origin origin;
    std::size_t statement = SIZE_MAX;  // in the model's statements
  };

  Place here() const noexcept;
  // A view of `text` that lives as long as the model: into the file being
  // read when it lies there, or a kept copy.
  std::string_view keep(std::string_view text);
  std::uint32_t typing_of(const Store::TypedKey& typed, std::string_view key);
  static constexpr std::size_t kNoField = SIZE_MAX;
  std::size_t field_position(std::size_t declaration, std::string_view name);
  template <class Declaration>
  void take_over(std::unordered_map<std::string_view, std::size_t>& from,
                 std::unordered_map<std::string_view, std::size_t>& to, std::vector<Declaration>& declarations,
                 std::string_view name);
  StoreState& state_of(const Store& store) { return stores_[&store]; }
  bool follows_from_failed_declaration(const VyrlError& error) const;
  void seed(const Store& document);

  Model& model_;
  std::vector<Level> levels_;
  std::unordered_map<const Store*, StoreState> stores_;
  const Store* document_ = nullptr;  // the store of the outermost merge
  std::unordered_set<std::string> failed_names_;
  std::unordered_map<const char*, std::uint32_t> typings_;  // in the model's, by the stored field's type name
  // By declaration, for schemas of many fields: field name -> position.
  std::unordered_map<std::size_t, std::unordered_map<std::string_view, std::size_t>> field_index_;
  std::size_t settled_ = 0;  // assignments before this one are settled
  std::vector<std::uint32_t> moving_;  // a @derive's keys on their way from its base
  std::unordered_map<std::uint32_t, Place> derived_at_;  // assignment -> the @derive line that brought it in
  std::size_t error_events_ = 0;
  bool full_ = false;
};

}  // namespace vyrl::detail
