#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vyrl {

// Where an error happened: one text or file, and a line in it. Errors carry a
// chain of these beside their message, so tools can say where without the
// message text ever changing.
struct Frame {
  // How the source of this frame came to be read.
  enum class Origin {
    text,      // a text handed to parse or merge_content (or read from standard input)
    file,      // a file the caller asked to load or merge
    imported,  // a file read by an @import line of the frame before
    derived,   // a file read by a @derive line of the frame before
  };

  std::string source;    // the path of a file, or a label such as "<text>" for a text
  std::size_t line = 0;  // 1-based; 0 when the failure belongs to the source as a whole
  Origin origin = Origin::text;

  friend bool operator==(const Frame&, const Frame&) = default;
};

// The one error type of the library. Each kind keeps exactly the fields its
// message template uses, in template order; `message()` is the only rendering.
class VyrlError {
 public:
  // An operating-system failure (errno) or a file whose bytes are not UTF-8.
  struct IoError {
    int os_error;  // 0 means "not valid UTF-8"
  };
  struct ParseError {
    std::size_t line;
    std::string line_text;
    std::string reason;
  };
  struct NotFound {
    std::string name;
  };
  struct InvalidValue {
    std::string description;
  };
  struct InvalidType {
    std::string type_name;
    std::string description;
  };
  struct DirectiveError {
    std::string directive;
    std::string description;
  };
  struct SchemaValidationError {
    std::string schema;
    std::string field;
    std::string type_name;
    std::string description;
  };

  using Kind = std::variant<IoError, ParseError, NotFound, InvalidValue, InvalidType, DirectiveError,
                            SchemaValidationError>;

  // Texts taken from the input (a line, a name, a value) are quoted as
  // excerpt() gives them, and a description holding a nested message is cut
  // in its middle past kMaxDescriptionBytes, so that no message grows with the
  // size or the nesting of what was read.
  static VyrlError io(int os_error) { return VyrlError(IoError{os_error}); }
  static VyrlError invalid_utf8() { return VyrlError(IoError{0}); }
  static VyrlError parse(std::size_t line, std::string_view line_text, std::string reason);
  static VyrlError not_found(std::string_view name);
  static VyrlError invalid_value(std::string description);
  static VyrlError invalid_type(std::string_view type_name, std::string description);
  static VyrlError directive(std::string_view directive, std::string description);
  static VyrlError schema_validation(std::string_view schema, std::string_view field, std::string_view type_name,
                                     std::string description);

  const Kind& kind() const noexcept { return kind_; }
  template <class K>
  bool is() const noexcept {
    return std::holds_alternative<K>(kind_);
  }
  // The kind's name as written above, e.g. "ParseError".
  const char* kind_name() const noexcept;

  // The display text, e.g. "Key not found: 'intt'".
  std::string message() const;

  // Where it happened, outermost first: the text or file the caller gave, then
  // each file loaded on the way, ending with the failing line (or, for a file
  // that could not be read, that file with line 0). Empty when no text or file
  // was involved (validate_value).
  const std::vector<Frame>& frames() const noexcept { return frames_; }
  void add_outer_frame(Frame frame) { frames_.insert(frames_.begin(), std::move(frame)); }
  // For a caller that knows the outermost text by other line numbers: the
  // file on disk, where the text loaded was an edit of it.
  void set_outer_line(std::size_t line) noexcept {
    if (!frames_.empty()) frames_.front().line = line;
  }

  // The type name that nothing knew, when that is what failed (possibly deep
  // inside a nested check), so that tools can suggest a near name. Empty
  // otherwise.
  const std::string& unknown_type() const noexcept { return unknown_type_; }
  void set_unknown_type(std::string name) { unknown_type_ = std::move(name); }

  // A mistake whose fix is mechanical, when the check that failed could tell
  // (possibly deep inside a nested check), so that tools can say how to fix
  // it (fix_hints in diagnostics.hpp). Nothing of it shows in the message.
  enum class Slip : std::uint8_t {
    none,
    colon_apart,          // a schema field written "name : type"
    list_alias,           // an @type alias of a list type; unknown_type() is the list
    import_without_path,  // an @import line with nothing after it
    i32_out_of_range,     // an integer that does not fit an i32
    block_not_closed,     // a directive's "{" that nothing closes; slip_line() opened it
    value_over_lines,     // an assignment's "{" or "[" that its own line, slip_line(), does not close
  };
  Slip slip() const noexcept { return slip_; }
  // The line the slip concerns, in the file that failed; 0 when none.
  std::size_t slip_line() const noexcept { return slip_line_; }
  void set_slip(Slip slip, std::size_t line = 0) noexcept {
    slip_ = slip;
    slip_line_ = line;
  }
  // What `inner` knew about the mistake, for an error that wraps its message.
  void keep_hints_of(const VyrlError& inner) {
    unknown_type_ = inner.unknown_type_;
    slip_ = inner.slip_;
    slip_line_ = inner.slip_line_;
  }

 private:
  explicit VyrlError(Kind kind) : kind_(std::move(kind)) {}
  Kind kind_;
  std::vector<Frame> frames_;
  std::string unknown_type_;
  Slip slip_ = Slip::none;
  std::size_t slip_line_ = 0;
};

// Quoted texts longer than this many characters are cut to it, followed by "…".
// Long enough for any name or value a person writes, and for the type names of
// lists nested to the depth limit, which messages quote whole.
inline constexpr std::size_t kMaxQuotedCharacters = 2048;
// A description longer than this many bytes keeps its start and its end (the
// outermost and the innermost of a nested failure) around a "…".
inline constexpr std::size_t kMaxDescriptionBytes = 16 * 1024;

// `text` as a message quotes it: whole up to kMaxQuotedCharacters characters,
// else cut there, at a character boundary, and followed by "…".
std::string excerpt(std::string_view text);

template <class T>
using Result = std::expected<T, VyrlError>;
using Status = std::expected<void, VyrlError>;

inline std::unexpected<VyrlError> fail(VyrlError error) { return std::unexpected(std::move(error)); }

}  // namespace vyrl
