#include "statement/directive_arguments.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "literal/literal.hpp"
#include "text/text.hpp"

namespace vyrl {
namespace {

constexpr std::string_view kNotNameEqualsDefinition = "Type definition must be in the format 'name = definition'";
constexpr std::string_view kEmptyTypeName = "Type name cannot be empty";
constexpr std::string_view kEmptyDefinition = "Type definition cannot be empty";
constexpr std::string_view kEmptyImportPath = "Import path cannot be empty";

constexpr std::string_view kExpectedOpenBrace = "Expected '{'";
constexpr std::string_view kEmptySchemaName = "Schema name is empty";
constexpr std::string_view kExpectedCloseBrace = "Expected '}'";

std::string field_without_colon(std::string_view token) { return "Bad field: '" + excerpt(token) + "'"; }

std::string field_without_type(std::string_view raw_name) {
  return "Bad field: '" + excerpt(raw_name) + ":' has no type";
}

std::string field_without_name(std::string_view name, std::string_view type) {
  return "Bad field: '" + excerpt(name) + ": " + excerpt(type) + "'";
}

// A handler is not told its line, so @type and @import quote their argument
// text where the line would stand.
VyrlError refuse_at_arguments(std::string_view arguments, std::string_view reason) {
  return VyrlError::parse(0, arguments, std::string(reason));
}

VyrlError refuse_schema(std::string reason) {
  return VyrlError::directive(std::string(directive_name(DirectiveKind::schema)), std::move(reason));
}

// What a byte is to the tokeniser: surely part of a token, surely a
// separator, or either (a control byte or the first byte of a multi-byte
// character, which white_space_at_any settles).
enum ByteKind : unsigned char { kTokenByte, kSeparatorByte, kAskByte };
constexpr std::array<unsigned char, 256> kByteKinds = [] {
  std::array<unsigned char, 256> kinds{};
  for (std::size_t c = 0; c < kinds.size(); ++c) kinds[c] = c > 0x20 && c < 0x80 ? kTokenByte : kAskByte;
  kinds[' '] = kSeparatorByte;
  kinds[','] = kSeparatorByte;
  return kinds;
}();

// Walks the body's tokens in place. Commas separate like white space anywhere,
// even in the middle of what looks like one type name.
class Tokens {
 public:
  explicit Tokens(std::string_view body) noexcept : body_(body) {}

  // The next non-empty token, or an empty view once the body is used up.
  std::string_view next() noexcept {
    // Locals, not members: stores through `this` would make the compiler
    // reload the body at every byte.
    const std::string_view body = body_;
    const char* const data = body.data();
    const std::size_t size = body.size();
    std::size_t pos = pos_;
    while (pos < size) {
      const unsigned char kind = kind_of(data[pos]);
      if (kind == kTokenByte) break;
      if (kind == kSeparatorByte) {
        ++pos;
        continue;
      }
      const std::size_t gap = white_space_at_any(body, pos);
      if (gap == 0) break;
      pos += gap;
    }
    const std::size_t start = pos;
    while (pos < size) {
      const unsigned char kind = kind_of(data[pos]);
      if (kind == kTokenByte) {
        ++pos;
        continue;
      }
      if (kind == kSeparatorByte || white_space_at_any(body, pos) != 0) break;
      ++pos;
    }
    pos_ = pos;
    return {data + start, pos - start};
  }

 private:
  static unsigned char kind_of(char c) noexcept { return kByteKinds[static_cast<unsigned char>(c)]; }

  std::string_view body_;
  std::size_t pos_ = 0;
};

constexpr std::string_view kSelectorSeparator = "::";

std::vector<std::string_view> split_selector(std::string_view selector) {
  std::vector<std::string_view> names;
  for (;;) {
    const std::size_t separator = selector.find(kSelectorSeparator);
    // Empty pieces vanish, so "path::" and "path:: ::" select nothing, i.e. everything.
    if (const std::string_view piece = trim(selector.substr(0, separator)); !piece.empty()) {
      names.push_back(piece);
    }
    if (separator == std::string_view::npos) return names;
    selector.remove_prefix(separator + kSelectorSeparator.size());
  }
}

}  // namespace

std::expected<TypeArguments, VyrlError> parse_type_arguments(std::string_view arguments) {
  const std::size_t equals = arguments.find('=');
  if (equals == std::string_view::npos) return std::unexpected(refuse_at_arguments(arguments, kNotNameEqualsDefinition));
  const std::string_view name = trim(arguments.substr(0, equals));
  // Later "=" belong to the definition, so "a = b = c" defines a as "b = c".
  const std::string_view definition = trim(arguments.substr(equals + 1));
  if (name.empty()) return std::unexpected(refuse_at_arguments(arguments, kEmptyTypeName));
  if (definition.empty()) return std::unexpected(refuse_at_arguments(arguments, kEmptyDefinition));
  return TypeArguments{name, definition};
}

std::expected<SchemaArguments, VyrlError> parse_schema_arguments(std::string_view arguments) {
  const std::string_view text = trim(arguments);
  const std::size_t open = text.find('{');
  if (open == std::string_view::npos) return std::unexpected(refuse_schema(std::string(kExpectedOpenBrace)));
  const std::string_view name = trim(text.substr(0, open));
  if (name.empty()) return std::unexpected(refuse_schema(std::string(kEmptySchemaName)));
  // The body ends at the last "}", so trailing words after it are ignored but a
  // stray "}" inside it becomes a field token.
  const std::size_t close = text.rfind('}');
  if (close == std::string_view::npos || close < open) {
    return std::unexpected(refuse_schema(std::string(kExpectedCloseBrace)));
  }

  SchemaArguments schema{name, text.substr(open, 1), text.substr(close, 1), {}};
  const std::string_view body = text.substr(open + 1, close - open - 1);
  // Every field has a colon, so their count bounds the fields: one allocation
  // instead of one per doubling.
  std::size_t colons = 0;
  for (const char c : body) colons += c == ':' ? 1 : 0;  // a form the compiler vectorises
  schema.fields.reserve(colons);
  Tokens tokens(body);
  for (std::string_view token = tokens.next(); !token.empty(); token = tokens.next()) {
    const std::size_t colon = token.find(':');
    if (colon == std::string_view::npos) {
      VyrlError refused = refuse_schema(field_without_colon(token));
      // "port : i32" reads as a field "port" with no ":" and then a stray one.
      if (tokens.next().starts_with(':')) refused.set_slip(VyrlError::Slip::colon_apart);
      return std::unexpected(std::move(refused));
    }
    const std::string_view raw_name = token.substr(0, colon);
    std::string_view type = token.substr(colon + 1);
    // "name: type" puts the type in its own token; whatever comes next is taken.
    if (type.empty()) {
      type = tokens.next();
      if (type.empty()) return std::unexpected(refuse_schema(field_without_type(raw_name)));
    }
    std::string_view field = raw_name;
    while (!field.empty() && field.back() == '*') field.remove_suffix(1);
    if (field.empty()) return std::unexpected(refuse_schema(field_without_name(field, type)));
    schema.fields.push_back({field, raw_name.substr(field.size()), type});
  }
  return schema;
}

std::expected<std::string_view, VyrlError> parse_import_arguments(std::string_view arguments) {
  const std::string_view trimmed = trim(arguments);
  if (trimmed.empty()) {
    VyrlError refused = refuse_at_arguments(arguments, kEmptyImportPath);
    refused.set_slip(VyrlError::Slip::import_without_path);
    return std::unexpected(std::move(refused));
  }
  return unwrap_quotes(trimmed);
}

DeriveTarget split_derive_arguments(std::string_view arguments) {
  const std::string_view text = trim(arguments);
  std::string_view path = text;
  std::string_view selector;
  if (!text.empty() && (text.front() == '"' || text.front() == '\'')) {
    // An unclosed quote leaves the whole text, quote included, as the path.
    if (const std::size_t close = text.find(text.front(), 1); close != std::string_view::npos) {
      path = text.substr(1, close - 1);
      selector = text.substr(close + 1);
      // After a closing quote any run of colons may lead into the selector: "x":A, "x"::A.
      while (!selector.empty() && selector.front() == ':') selector.remove_prefix(1);
    }
  } else if (const std::size_t separator = text.find(kSelectorSeparator); separator != std::string_view::npos) {
    path = text.substr(0, separator);
    selector = text.substr(separator + kSelectorSeparator.size());
  }
  return DeriveTarget{trim(path), split_selector(selector)};
}

}  // namespace vyrl
