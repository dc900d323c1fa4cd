#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <variant>

namespace vyrl {

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

  static VyrlError io(int os_error) { return VyrlError(IoError{os_error}); }
  static VyrlError invalid_utf8() { return VyrlError(IoError{0}); }
  static VyrlError parse(std::size_t line, std::string line_text, std::string reason) {
    return VyrlError(ParseError{line, std::move(line_text), std::move(reason)});
  }
  static VyrlError not_found(std::string name) { return VyrlError(NotFound{std::move(name)}); }
  static VyrlError invalid_value(std::string description) {
    return VyrlError(InvalidValue{std::move(description)});
  }
  static VyrlError invalid_type(std::string type_name, std::string description) {
    return VyrlError(InvalidType{std::move(type_name), std::move(description)});
  }
  static VyrlError directive(std::string directive, std::string description) {
    return VyrlError(DirectiveError{std::move(directive), std::move(description)});
  }
  static VyrlError schema_validation(std::string schema, std::string field, std::string type_name,
                                     std::string description) {
    return VyrlError(SchemaValidationError{std::move(schema), std::move(field), std::move(type_name),
                                           std::move(description)});
  }

  const Kind& kind() const noexcept { return kind_; }
  template <class K>
  bool is() const noexcept {
    return std::holds_alternative<K>(kind_);
  }

  // The display text, e.g. "Key not found: 'intt'".
  std::string message() const;

 private:
  explicit VyrlError(Kind kind) : kind_(std::move(kind)) {}
  Kind kind_;
};

template <class T>
using Result = std::expected<T, VyrlError>;
using Status = std::expected<void, VyrlError>;

inline std::unexpected<VyrlError> fail(VyrlError error) { return std::unexpected(std::move(error)); }

}  // namespace vyrl
