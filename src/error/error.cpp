#include "vyrl/error.hpp"

#include <cstring>
#include <iterator>
#include <string_view>

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

}  // namespace

std::string VyrlError::message() const { return std::visit(Render{}, kind_); }

const char* VyrlError::kind_name() const noexcept {
  static constexpr const char* kNames[] = {"IoError",      "ParseError",     "NotFound",
                                           "InvalidValue", "InvalidType",    "DirectiveError",
                                           "SchemaValidationError"};
  static_assert(std::size(kNames) == std::variant_size_v<Kind>);
  return kNames[kind_.index()];
}

}  // namespace vyrl
