#include "load/loader.hpp"

#include <cerrno>
#include <string>

#include "literal/literal.hpp"
#include "statement/directive_arguments.hpp"
#include "load/file.hpp"
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

// A @schema block is read the same in place as joined (its fields are cut at
// white space); the other directives are given their text joined.
bool reads_in_place(std::string_view opening) noexcept {
  return split_directive(opening).name == kSchemaDirective;
}

}  // namespace

Status Loader::merge_text(Store& store, std::string_view text, std::string_view source, Frame::Origin origin) {
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

Status Loader::merge_file(Store& store, std::string_view path) {
  auto text = read_text_file(path, options_);
  if (!text) {
    text.error().add_outer_frame(frame(path, 0, Frame::Origin::file));
    return fail(std::move(text.error()));
  }
  return merge_text(store, *text, path, Frame::Origin::file);
}

Status Loader::merge_file_text(Store& store, std::string_view text, std::string_view path) {
  if (!is_valid_utf8(text)) {
    VyrlError error = VyrlError::invalid_utf8();
    error.add_outer_frame(frame(path, 0, Frame::Origin::file));
    return fail(std::move(error));
  }
  return merge_text(store, text, path, Frame::Origin::file);
}

Status Loader::merge_standard_input(Store& store) {
  auto text = read_standard_input(options_);
  if (!text) {
    text.error().add_outer_frame(frame(kStandardInputSource, 0, Frame::Origin::text));
    return fail(std::move(text.error()));
  }
  return merge_text(store, *text, kStandardInputSource, Frame::Origin::text);
}

std::expected<Status, NestedRefusal> Loader::load_file(Store& into, const NestedRequest& request) {
  const std::size_t max_loads = options_.limits.max_file_loads;
  auto guard = chain_.enter(request.path, max_loads);
  if (!guard) {
    const bool too_deep = guard.error() == NestedRefusal::Why::TooDeep;
    return std::unexpected(NestedRefusal{guard.error(), too_deep ? kMaxFileNesting : max_loads});
  }
  auto text = read_nested(request.path);
  if (!text) {
    text.error().add_outer_frame(frame(request.path, 0, request.origin));
    return Status(fail(std::move(text.error())));
  }
  return merge_text(into, *text, request.path, request.origin);
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
    return handler->execute(DirectiveContext{writer.settled(), *this}, directive.arguments);
  }

  const auto assignment = parse_assignment(line);
  if (!assignment) return fail(assignment_error(line.number, line.text, assignment.error()));
  const auto [key, value] = *assignment;
  // When several schemas declare the key, which one checks it is left open; one is enough.
  if (const auto typed = writer.schema_declaring(key); typed && !typed->type->quick.accepts(value)) {
    if (auto valid = validate_resolved_field(writer.scope(), *typed->type, typed->type_name, value, typed->schema, key);
        !valid) {
      return valid;
    }
  }
  writer.assign(key, value);
  return {};
}

}  // namespace vyrl
