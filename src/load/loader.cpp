#include "load/loader.hpp"

#include <string>

#include "load/file.hpp"
#include "statement/statement.hpp"
#include "store/store.hpp"
#include "types/validation.hpp"

namespace vyrl {
namespace {

// Average bytes per assignment assumed when pre-sizing the values for a text.
constexpr std::size_t kBytesPerEntry = 40;

Frame frame(std::string_view source, std::size_t line, Frame::Origin origin) {
  return Frame{std::string(source), line, origin};
}

}  // namespace

Status Loader::merge_text(Store& store, std::string_view text, std::string_view source, Frame::Origin origin) {
  store.expect_more_values(text.size() / kBytesPerEntry);
  LogicalLines lines(text);
  Status result;
  while (const auto line = lines.next()) {
    if (result = process_line(store, *line); !result) {
      result.error().add_outer_frame(frame(source, line->number, origin));
      break;
    }
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

Status Loader::merge_standard_input(Store& store) {
  auto text = read_standard_input(options_);
  if (!text) {
    text.error().add_outer_frame(frame(kStandardInputSource, 0, Frame::Origin::text));
    return fail(std::move(text.error()));
  }
  return merge_text(store, *text, kStandardInputSource, Frame::Origin::text);
}

Status Loader::load_file(Store& into, const NestedRequest& request) {
  const std::size_t max_loads = options_.limits.max_file_loads;
  auto guard = chain_.enter(request.path, max_loads);
  if (!guard) {
    return fail(request.refuse(request.arguments, nesting_refusal_reason(guard.error(), request.path, max_loads)));
  }
  auto text = read_text_file(request.path, options_);
  if (!text) {
    text.error().add_outer_frame(frame(request.path, 0, request.origin));
    return fail(std::move(text.error()));
  }
  return merge_text(into, *text, request.path, request.origin);
}

Status Loader::process_line(Store& store, const LogicalLine& line) {
  if (line.text.front() == '@') {
    const DirectiveLine directive = split_directive(line.text);
    if (directive.name.empty()) {
      return fail(VyrlError::parse(line.number, std::string(directive.text), "Empty directive"));
    }
    const Directive* handler = find_directive(directive.name);
    if (handler == nullptr) {
      return fail(VyrlError::parse(line.number, std::string(directive.text),
                                   "Unknown directive: @" + std::string(directive.name)));
    }
    return handler->execute(DirectiveContext{store, line.number, *this}, directive.arguments);
  }

  const auto assignment = parse_assignment(line.text);
  if (!assignment) {
    return fail(VyrlError::parse(line.number, std::string(line.text), std::string(assignment.error())));
  }
  const auto [key, value] = *assignment;
  // When several schemas declare the key, which one checks it is left open; one is enough.
  if (const auto typed = store.schema_declaring(key)) {
    if (auto valid = validate_typed_field(store, typed->type_name, value, typed->schema, key); !valid) return valid;
  }
  store.assign(key, value);
  return {};
}

}  // namespace vyrl
