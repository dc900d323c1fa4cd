#include "vyrl/error.hpp"

#include <cstring>
#include <iterator>
#include <utility>
#include <string_view>

#include "vyrl/text.hpp"

namespace vyrl {
namespace {

std::string os_error_text(int code) {
  // strerror_r (GNU flavour) keeps rendering thread-safe; documents live on many threads.
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(code) + ")";
}

std::string concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (auto part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (auto part : parts) out += part;
  return out;
}

struct Render {
  std::string operator()(const VyrlError::IoError& e) const {
    return "IO Error: " + (e.os_error == 0 ? std::string("stream did not contain valid UTF-8")
                                            : os_error_text(e.os_error));
  }
  std::string operator()(const VyrlError::ParseError& e) const {
    return concat({"Parse Error at line ", std::to_string(e.line), ": '", e.line_text, "'. Reason: ",
                   e.reason});
  }
  std::string operator()(const VyrlError::NotFound& e) const {
    return concat({"Key not found: '", e.name, "'"});
  }
  std::string operator()(const VyrlError::InvalidValue& e) const {
    return concat({"Invalid value: ", e.description});
  }
  std::string operator()(const VyrlError::InvalidType& e) const {
    return concat({"Invalid type '", e.type_name, "': ", e.description});
  }
  std::string operator()(const VyrlError::DirectiveError& e) const {
    return concat({"Directive '@", e.directive, "' error: ", e.description});
  }
  std::string operator()(const VyrlError::SchemaValidationError& e) const {
    return concat({"Schema '", e.schema, "' validation error: field '", e.field, "' (type '",
                   e.type_name, "') \u2014 ", e.description});
  }
};

constexpr std::string_view kCutMark = "\u2026";

// Cuts in the middle of an over-long description. Both ends are kept because a
// nested message reads outermost first: its start says which key failed, its
// end what was wrong at the bottom.
std::string bounded(std::string text) {
  if (text.size() <= kMaxDescriptionBytes) return text;
  const std::size_t half = (kMaxDescriptionBytes - kCutMark.size()) / 2;
  std::size_t head = half;
  while (head > 0 && is_utf8_continuation(text[head])) --head;
  std::size_t tail = text.size() - half;
  while (tail < text.size() && is_utf8_continuation(text[tail])) ++tail;
  std::string out;
  out.reserve(head + kCutMark.size() + (text.size() - tail));
  out.append(text, 0, head).append(kCutMark).append(text, tail);
  return out;
}

}  // namespace

std::string excerpt(std::string_view text) {
  // Only the first characters are walked: the cost follows what is kept, not
  // the length of the text.
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (is_utf8_continuation(text[i])) continue;
    if (characters++ == kMaxQuotedCharacters) return concat({text.substr(0, i), kCutMark});
  }
  return std::string(text);
}

VyrlError VyrlError::parse(std::size_t line, std::string_view line_text, std::string reason) {
  return VyrlError(ParseError{line, excerpt(line_text), bounded(std::move(reason))});
}

VyrlError VyrlError::not_found(std::string_view name) { return VyrlError(NotFound{excerpt(name)}); }

VyrlError VyrlError::invalid_value(std::string description) {
  return VyrlError(InvalidValue{bounded(std::move(description))});
}

VyrlError VyrlError::invalid_type(std::string_view type_name, std::string description) {
  return VyrlError(InvalidType{excerpt(type_name), bounded(std::move(description))});
}

VyrlError VyrlError::directive(std::string_view directive, std::string description) {
  return VyrlError(DirectiveError{excerpt(directive), bounded(std::move(description))});
}

VyrlError VyrlError::schema_validation(std::string_view schema, std::string_view field, std::string_view type_name,
                                       std::string description) {
  return VyrlError(
      SchemaValidationError{excerpt(schema), excerpt(field), excerpt(type_name), bounded(std::move(description))});
}

std::string VyrlError::message() const { return std::visit(Render{}, kind_); }

const char* VyrlError::kind_name() const noexcept {
  static constexpr const char* kNames[] = {"IoError",      "ParseError",     "NotFound",
                                           "InvalidValue", "InvalidType",    "DirectiveError",
                                           "SchemaValidationError"};
  static_assert(std::size(kNames) == std::variant_size_v<Kind>);
  return kNames[kind_.index()];
}

}  // namespace vyrl
