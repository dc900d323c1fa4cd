#include <string>

#include "vyrl/error.hpp"
#include "directive/directive.hpp"
#include "store/store.hpp"
#include "text/text.hpp"

namespace vyrl {
namespace {

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

constexpr std::string_view kSchemaDirective = "schema";

VyrlError refuse(std::string reason) { return VyrlError::directive(std::string(kSchemaDirective), std::move(reason)); }

// Walks the body's tokens in place. Commas separate like white space anywhere,
// even in the middle of what looks like one type name.
class Tokens {
 public:
  explicit Tokens(std::string_view body) noexcept : body_(body) {}

  // The next non-empty token, or an empty view once the body is used up.
  std::string_view next() noexcept {
    while (pos_ < body_.size()) {
      const std::size_t gap = separator_at(pos_);
      if (gap == 0) break;
      pos_ += gap;
    }
    const std::size_t start = pos_;
    while (pos_ < body_.size() && separator_at(pos_) == 0) ++pos_;
    return body_.substr(start, pos_ - start);
  }

 private:
  std::size_t separator_at(std::size_t pos) const noexcept {
    return body_[pos] == ',' ? 1 : white_space_at(body_, pos);
  }

  std::string_view body_;
  std::size_t pos_ = 0;
};

}  // namespace

// @schema Name { field: type, optional*: type }: declares the typed fields that
// assignments of the same keys, and objects of this schema's type, must satisfy.
Status execute_schema(const DirectiveContext& context, std::string_view arguments) {
  const std::string_view text = trim(arguments);
  const std::size_t open = text.find('{');
  if (open == std::string_view::npos) return fail(refuse(std::string(kExpectedOpenBrace)));
  const std::string_view schema_name = trim(text.substr(0, open));
  if (schema_name.empty()) return fail(refuse(std::string(kEmptySchemaName)));
  // The body ends at the last "}", so trailing words after it are ignored but a
  // stray "}" inside it becomes a field token.
  const std::size_t close = text.rfind('}');
  if (close == std::string_view::npos || close < open) return fail(refuse(std::string(kExpectedCloseBrace)));

  SchemaDef schema;
  Tokens tokens(text.substr(open + 1, close - open - 1));
  for (std::string_view token = tokens.next(); !token.empty(); token = tokens.next()) {
    const std::size_t colon = token.find(':');
    if (colon == std::string_view::npos) return fail(refuse(field_without_colon(token)));
    const std::string_view raw_name = token.substr(0, colon);
    std::string_view type = token.substr(colon + 1);
    // "name: type" puts the type in its own token; whatever comes next is taken.
    if (type.empty()) {
      type = tokens.next();
      if (type.empty()) return fail(refuse(field_without_type(raw_name)));
    }
    std::string_view field = raw_name;
    while (!field.empty() && field.back() == '*') field.remove_suffix(1);
    if (field.empty()) return fail(refuse(field_without_name(field, type)));
    if (field.size() != raw_name.size()) schema.optional_fields.emplace(field);
    // A repeated field takes the later type but keeps an earlier optional mark.
    if (auto existing = schema.fields.find(field); existing != schema.fields.end()) {
      existing->second.assign(type);
    } else {
      schema.fields.emplace(std::string(field), std::string(type));
    }
  }
  context.store.register_schema(std::string(schema_name), std::move(schema));
  return {};
}

}  // namespace vyrl
