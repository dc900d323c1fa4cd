#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "directive/directive.hpp"
#include "lines/lines.hpp"
#include "model/recorder.hpp"
#include "load/nesting.hpp"
#include "statement/statement.hpp"
#include "store/store.hpp"
#include "vyrl/error.hpp"
#include "vyrl/options.hpp"

namespace vyrl {


// Labels standing in for a path where the text came from elsewhere.
inline constexpr std::string_view kTextSource = "<text>";
inline constexpr std::string_view kStandardInputSource = "<stdin>";

// The one road from text to registries, for one call: a text is cut into
// logical lines, each line is read as an assignment or a directive, and the
// store takes the result. Files, whether the caller's or those that @import
// and @derive name, are read here too, within the limits of the call. Every
// error leaves with the frames that say where it happened.
class Loader final : public NestedLoad {
 public:
  explicit Loader(const Options& options) : options_(options) {
    if (options.model != nullptr) recorder_.emplace(*options.model);
  }

  Status merge_text(Store& store, std::string_view text, std::string_view source, Frame::Origin origin);
  // The caller's own file: not on the nesting chain, so a file that imports
  // itself is read once more before the cycle is refused.
  Status merge_file(Store& store, std::string_view path);
  Status merge_standard_input(Store& store);
  // A text standing for the file at `path`, as merge_file would read it.
  Status merge_file_text(Store& store, std::string_view text, std::string_view path);

  std::expected<Status, NestedRefusal> load_file(Store& into, const NestedRequest& request) override;

 private:
  Result<std::string> read_nested(std::string_view path);
  Status process_line(StoreWriter& writer, const LogicalLine& line);
  // Checks an assignment against the schema field that types it, if any, and stores it.
  static Status take_assignment(StoreWriter& writer, const Assignment& assignment,
                                const std::optional<Store::TypedKey>& typed);
  // An assignment line, read, checked and stored; `taken(assignment, typed)`
  // is told of it once stored, with the field that typed it.
  template <class Taken>
  static Status process_assignment(StoreWriter& writer, const LogicalLine& line, Taken&& taken) {
    const auto assignment = parse_assignment(line);
    if (!assignment) return fail(assignment_error(line.number, line.text, assignment.error()));
    const auto typed = writer.schema_declaring(assignment->key);
    Status result = take_assignment(writer, *assignment, typed);
    if (result) taken(*assignment, typed);
    return result;
  }
  // A file the caller named that could not be read, for the model if there is one.
  void record_unreadable(std::string_view path, Frame::Origin origin, const VyrlError& error) {
    if (!recorder_) return;
    recorder_->add_unreadable_file(std::string(path), origin);
    recorder_->record_file_error(error);
  }
  // merge_text for a load that records a model: every line is read in
  // full and recorded, and a failing line does not end the merge.
  Status merge_recording(Store& store, std::string_view text, std::string_view source, Frame::Origin origin);
  // A whole text just read: a model keeps it, and the merge then reads the
  // model's copy, which what the model records points into.
  Status merge_read(Store& store, std::string text, std::string_view source, Frame::Origin origin);
  // Stores a line that is an assignment no schema refuses, the usual line,
  // without building a Status for it: a key no schema declares, or a value
  // its field's quick test passes. False leaves the line to process_line,
  // which checks it in full and words any refusal.
  static bool take_unchecked_assignment(StoreWriter& writer, const LogicalLine& line) {
    if (line.text.front() == '@') return false;
    const auto assignment = parse_assignment(line);
    if (!assignment || !passes_quickly(writer, *assignment)) return false;
    writer.assign(assignment->key, assignment->value);
    return true;
  }
  // The same for a plain line straight from the scan, before any logical
  // line is made of it.
  static bool take_unchecked_assignment(StoreWriter& writer, const PlainLine& line) {
    if (line.equals == 0 || line.equals == std::string_view::npos || line.text.front() == '@') return false;
    const Assignment assignment = split_plain_assignment(line.text, line.equals);
    if (!passes_quickly(writer, assignment)) return false;
    writer.assign(assignment.key, assignment.value);
    return true;
  }
  static bool passes_quickly(StoreWriter& writer, const Assignment& assignment) {
    if (!writer.declares_fields()) return true;
    const FieldType* type = writer.declared_type(assignment.key);
    return type == nullptr || type->quick.accepts(assignment.value);
  }

  const Options& options_;
  NestingChain chain_;
  std::optional<detail::ModelRecorder> recorder_;
};

}  // namespace vyrl
