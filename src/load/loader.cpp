#include "load/loader.hpp"

#include <cerrno>
#include <string>

#include "load/file.hpp"
#include "statement/statement.hpp"
#include "store/store.hpp"
#include "text/text.hpp"
#include "types/validation.hpp"

namespace vyrl {
namespace {

// Average bytes per assignment assumed when pre-sizing the values for a text.
constexpr std::size_t kBytesPerEntry = 40;

Frame frame(std::string_view source, std::size_t line, Frame::Origin origin) {
  return Frame{std::string(source), line, origin};
}

}  // namespace

// Assignments checked and hashed but not stored yet. Storing a key in a large
// document mostly waits for its index slot to arrive from memory; hashing a
// few lines ahead and asking for their slots early lets those waits overlap.
// Nothing but storing is deferred, and every line that could see the
// difference (a directive, a failure, the end of the text) stores the queue
// first, so the document changes exactly in line order.
class Loader::PendingAssignments {
 public:
  explicit PendingAssignments(Store& store) noexcept : store_(store) {}

  void add(std::string_view key, std::string_view value) {
    if (count_ == kDepth) store_oldest();
    const std::uint64_t hash = store_.values().hash(key);
    store_.values().prefetch(hash);
    queue_[(first_ + count_++) % kDepth] = Pending{key, value, hash};
  }

  void flush() {
    while (count_ > 0) store_oldest();
  }

 private:
  static constexpr std::size_t kDepth = 16;
  struct Pending {
    std::string_view key;
    std::string_view value;
    std::uint64_t hash;
  };

  void store_oldest() {
    const Pending& next = queue_[first_];
    store_.assign(next.key, next.value, next.hash);
    first_ = (first_ + 1) % kDepth;
    --count_;
  }

  Store& store_;
  Pending queue_[kDepth];
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

Status Loader::merge_text(Store& store, std::string_view text, std::string_view source, Frame::Origin origin) {
  store.expect_more_values(text.size() / kBytesPerEntry, text.size());
  LogicalLines lines(text);
  PendingAssignments pending(store);
  Status result;
  try {
    while (const auto line = lines.next()) {
      if (result = process_line(store, *line, pending); !result) {
        result.error().add_outer_frame(frame(source, line->number, origin));
        break;
      }
    }
  } catch (...) {
    // Memory ran out on a later line: the lines before it still take effect,
    // as they would before any other failure. Storing one of them may run out
    // too, and then that one is the failing line.
    pending.flush();
    throw;
  }
  pending.flush();
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

Status Loader::process_line(Store& store, const LogicalLine& line, PendingAssignments& pending) {
  if (line.text.front() == '@') {
    pending.flush();
    const DirectiveLine directive = split_directive(line.text);
    if (directive.name.empty()) return fail(empty_directive_error(line.number, directive));
    const Directive* handler = find_directive(directive.name);
    if (handler == nullptr) return fail(unknown_directive_error(line.number, directive));
    return handler->execute(DirectiveContext{store, *this}, directive.arguments);
  }

  const auto assignment = parse_assignment(line.text);
  if (!assignment) {
    pending.flush();
    return fail(assignment_error(line.number, line.text, assignment.error()));
  }
  const auto [key, value] = *assignment;
  // When several schemas declare the key, which one checks it is left open; one is enough.
  if (const auto typed = store.schema_declaring(key)) {
    // Checking reads aliases and schemas only, which no pending assignment changes.
    if (auto valid = validate_resolved_field(store, *typed->type, typed->type_name, value, typed->schema, key);
        !valid) {
      pending.flush();
      return valid;
    }
  }
  pending.add(key, value);
  return {};
}

}  // namespace vyrl
