#include "load/loader.hpp"

#include <cerrno>
#include <string>

#include "literal/literal.hpp"
#include "load/file.hpp"
#include "statement/directive_arguments.hpp"
#include "statement/statement.hpp"
#include "store/store.hpp"
#include "text/text.hpp"
#include "types/validation.hpp"

namespace vyrl {
namespace {

Frame frame(std::string_view source, std::size_t line, Frame::Origin origin) {
  return Frame{std::string(source), line, origin};
}

// A value that opens more "{" and "[" than it closes.
bool left_open(std::string_view value) noexcept {
  if (value.empty() || (value.front() != '{' && value.front() != '[')) return false;
  long depth = 0;
  for (const char c : value) depth += depth_step(c);
  return depth > 0;
}

// Where the "{" or "[" that a failure most likely comes from was opened. An
// unclosed block is cut at the end of the text, and an assignment never goes
// on past its line, so the line that fails can stand far below the mistake.
// Only on failure: the text is read once more, up to the failing line.
[[gnu::cold, gnu::noinline]] void note_unclosed(VyrlError& error, std::string_view text, const LogicalLine& failing) {
  // A failure in a file further down has been looked at there.
  if (!error.frames().empty() || error.slip() != VyrlError::Slip::none) return;
  if (failing.text.front() == '@') {
    if (!block_is_complete(failing.text)) error.set_slip(VyrlError::Slip::block_not_closed, failing.number);
    return;
  }
  if (const auto own = parse_assignment(failing); own && left_open(own->value)) {
    return error.set_slip(VyrlError::Slip::value_over_lines, failing.number);
  }
  if (!error.is<VyrlError::ParseError>()) return;
  // The lines after an open value are read as statements of their own: the
  // first that is none, right after it or its closing bracket, fails.
  std::size_t opened = 0;
  std::size_t previous = 0;
  char closing = 0;
  LogicalLines lines(text);
  for (const LogicalLine* line = lines.next(); line != nullptr && line->number < failing.number; line = lines.next()) {
    previous = line->number;
    if (line->text.front() == '@') continue;
    if (const auto assignment = parse_assignment(*line); assignment && left_open(assignment->value)) {
      opened = line->number;
      closing = assignment->value.front() == '{' ? '}' : ']';
    }
  }
  if (opened != 0 && (previous == opened || failing.text.front() == closing)) {
    error.set_slip(VyrlError::Slip::value_over_lines, opened);
  }
}

// What a line is, for the model.
Model::Statement::Kind statement_kind(const LogicalLine& line) noexcept {
  using Kind = Model::Statement::Kind;
  if (line.text.front() != '@') return Kind::assignment;
  switch (directive_kind(split_directive(line.text).name)) {
    case DirectiveKind::import: return Kind::import;
    case DirectiveKind::derive: return Kind::derive;
    case DirectiveKind::type: return Kind::type;
    case DirectiveKind::schema: return Kind::schema;
    case DirectiveKind::unknown: break;
  }
  return Kind::unknown;
}

// The name a failing @type or @schema line meant to declare, as far as it
// can be told: what stands before its "=" or "{".
std::string_view meant_name(Model::Statement::Kind kind, const LogicalLine& line) noexcept {
  if (kind != Model::Statement::Kind::type && kind != Model::Statement::Kind::schema) return {};
  const std::string_view arguments = split_directive(line.text).arguments;
  return trim(arguments.substr(0, arguments.find_first_of(kind == Model::Statement::Kind::type ? "=" : "{")));
}

// How many errors of one file get the search for an unclosed bracket above
// them, which reads the text up to the failing line: enough for the mistakes
// a person makes at once, and no quadratic cost on a file of broken lines.
constexpr std::size_t kUnclosedSearches = 16;

// A @schema block is read the same in place as joined (its fields are cut at
// white space); the other directives are given their text joined.
bool reads_in_place(std::string_view opening) noexcept {
  return directive_kind(split_directive(opening).name) == DirectiveKind::schema;
}

}  // namespace

Status Loader::merge_text(Store& store, std::string_view text, std::string_view source, Frame::Origin origin) {
  if (recorder_) return merge_read(store, std::string(text), source, origin);
  // An empty text, which callers pass to start a document, needs no room.
  if (!text.empty()) store.expect_more_values(count_lines(text), text.size());
  LogicalLines lines(text);
  Status result;
  {
    // Memory running out on a later line leaves the lines before it in
    // effect, as any other failure would: the writer stores them on its way out.
    StoreWriter writer(store);
    const auto take = [&writer](const PlainLine& line) { return take_unchecked_assignment(writer, line); };
    while (const auto line = lines.next(take, reads_in_place)) {
      if (take_unchecked_assignment(writer, *line)) continue;
      if (result = process_line(writer, *line); !result) {
        note_unclosed(result.error(), text, *line);
        result.error().add_outer_frame(frame(source, line->number, origin));
        break;
      }
    }
    writer.settled();
  }
  store.release_unused_room();
  return result;
}

Status Loader::merge_read(Store& store, std::string text, std::string_view source, Frame::Origin origin) {
  if (!recorder_) return merge_text(store, text, source, origin);
  // The source may be a view of the path the model is about to keep.
  const std::string_view kept = recorder_->add_file(std::string(source), std::move(text), origin);
  return merge_recording(store, kept, source, origin);
}

Status Loader::merge_recording(Store& store, std::string_view text, std::string_view source, Frame::Origin origin) {
  detail::ModelRecorder& recorder = *recorder_;
  if (!text.empty()) {
    const std::size_t lines = count_lines(text);
    store.expect_more_values(lines, text.size());
    recorder.expect(lines);
  }
  recorder.enter(store, origin);
  Status first;
  std::size_t searches = 0;
  {
    StoreWriter writer(store);
    LogicalLines lines(text);
    // Most lines are plain assignments that pass: taken straight from the
    // scan, as a plain load takes them, and recorded on the way.
    const auto take = [&](const PlainLine& line) {
      if (line.equals == 0 || line.equals == std::string_view::npos || line.text.front() == '@') return false;
      const Assignment assignment = split_plain_assignment(line.text, line.equals);
      std::optional<Store::TypedKey> typed;
      if (writer.declares_fields()) {
        typed = writer.schema_declaring(assignment.key);
        if (typed && !typed->type->quick.accepts(assignment.value)) return false;
      }
      recorder.begin_statement(Model::Statement::Kind::assignment, lines.line_number(), 1);
      writer.assign(assignment.key, assignment.value);
      recorder.assigned(assignment.key, assignment.value, typed);
      return true;
    };
    while (const LogicalLine* line = lines.next(take)) {
      const auto kind = statement_kind(*line);
      recorder.begin_statement(kind, line->number, line->last_number - line->number + 1);
      const std::size_t events = recorder.error_events();
      Status result;
      if (kind == Model::Statement::Kind::assignment) {
        result = process_assignment(writer, *line, [&](const Assignment& taken, const auto& typed) {
          recorder.assigned(taken.key, taken.value, typed);
        });
      } else {
        // A directive may read the store, change it, or merge another file
        // into it: what the lines before it assigned is settled first.
        recorder.settle(writer.settled());
        result = process_line(writer, *line);
      }
      if (result) continue;
      if (first || searches < kUnclosedSearches) {
        ++searches;
        note_unclosed(result.error(), text, *line);
      }
      // A line that failed in a file it read had its error recorded there.
      if (recorder.error_events() == events) recorder.record_error(result.error(), meant_name(kind, *line));
      if (first) {
        first = std::move(result);
        first.error().add_outer_frame(frame(source, line->number, origin));
      }
      if (recorder.full()) break;
    }
    recorder.settle(writer.settled());
  }
  recorder.leave();
  store.release_unused_room();
  return first;
}

Status Loader::merge_file(Store& store, std::string_view path) {
  auto text = read_text_file(path, options_);
  if (!text) {
    text.error().add_outer_frame(frame(path, 0, Frame::Origin::file));
    record_unreadable(path, Frame::Origin::file, text.error());
    return fail(std::move(text.error()));
  }
  return merge_read(store, std::move(*text), path, Frame::Origin::file);
}

Status Loader::merge_file_text(Store& store, std::string_view text, std::string_view path) {
  if (!is_valid_utf8(text)) {
    VyrlError error = VyrlError::invalid_utf8();
    error.add_outer_frame(frame(path, 0, Frame::Origin::file));
    record_unreadable(path, Frame::Origin::file, error);
    return fail(std::move(error));
  }
  return merge_text(store, text, path, Frame::Origin::file);
}

Status Loader::merge_standard_input(Store& store) {
  auto text = read_standard_input(options_);
  if (!text) {
    text.error().add_outer_frame(frame(kStandardInputSource, 0, Frame::Origin::text));
    record_unreadable(kStandardInputSource, Frame::Origin::text, text.error());
    return fail(std::move(text.error()));
  }
  return merge_read(store, std::move(*text), kStandardInputSource, Frame::Origin::text);
}

std::expected<Status, NestedRefusal> Loader::load_file(Store& into, const NestedRequest& request) {
  const std::size_t max_loads = options_.limits.max_file_loads;
  auto guard = chain_.enter(request.path, max_loads);
  if (!guard) {
    if (recorder_) recorder_->read(request.origin, request.path, std::nullopt);
    const bool too_deep = guard.error() == NestedRefusal::Why::TooDeep;
    return std::unexpected(NestedRefusal{guard.error(), too_deep ? kMaxFileNesting : max_loads});
  }
  if (recorder_) recorder_->read(request.origin, request.path, recorder_->next_file());
  auto text = read_nested(request.path);
  if (!text) {
    if (recorder_) recorder_->add_unreadable_file(std::string(request.path), request.origin);
    text.error().add_outer_frame(frame(request.path, 0, request.origin));
    return Status(fail(std::move(text.error())));
  }
  return merge_read(into, std::move(*text), request.path, request.origin);
}

Result<std::string> Loader::read_nested(std::string_view path) {
  if (options_.file_reader == nullptr) return read_text_file(path, options_);
  auto text = options_.file_reader->read(path);
  // A reader's text goes where a file's would, so it answers to the same
  // checks: the limit, and the UTF-8 the rest of the loader relies on.
  if (text && text->size() > options_.limits.max_file_bytes) return fail(VyrlError::io(EFBIG));
  if (text && !is_valid_utf8(*text)) return fail(VyrlError::invalid_utf8());
  return text;
}

Status Loader::process_line(StoreWriter& writer, const LogicalLine& line) {
  if (line.text.front() == '@') {
    const DirectiveLine directive = split_directive(line.text);
    if (directive.name.empty()) return fail(empty_directive_error(line.number, directive));
    const Directive* handler = find_directive(directive.name);
    if (handler == nullptr) return fail(unknown_directive_error(line.number, directive));
    return handler->execute(DirectiveContext{writer.settled(), *this, recorder_ ? &*recorder_ : nullptr},
                            directive.arguments);
  }

  return process_assignment(writer, line, [](const Assignment&, const std::optional<Store::TypedKey>&) {});
}

Status Loader::take_assignment(StoreWriter& writer, const Assignment& assignment,
                               const std::optional<Store::TypedKey>& typed) {
  const auto [key, value] = assignment;
  // When several schemas declare the key, which one checks it is left open; one is enough.
  if (typed && !typed->type->quick.accepts(value)) {
    if (auto valid = validate_resolved_field(writer.scope(), *typed->type, typed->type_name, value, typed->schema, key);
        !valid) {
      return valid;
    }
  }
  writer.assign(key, value);
  return {};
}

}  // namespace vyrl
