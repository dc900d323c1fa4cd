#pragma once

#include <expected>
#include <string_view>
#include <vector>

#include "vyrl/error.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl {

// What each directive's argument text says, read without acting on it. The
// handlers act on these; the syntax reader shows them. One reading serves
// both, so a formatter cannot accept what loading refuses. Every view points
// into the argument text; a refusal is the directive's own error, word for word.

// @type name = definition
struct TypeArguments {
  std::string_view name;
  std::string_view definition;
};
std::expected<TypeArguments, VyrlError> parse_type_arguments(std::string_view arguments);

// @schema Name { field: type, optional*: type }
struct SchemaFieldSyntax {
  std::string_view name;  // without its "*" marks
  std::string_view mark;  // the "*" marks, empty for a required field
  std::string_view type;
};
struct SchemaArguments {
  std::string_view name;
  std::string_view open;   // the first "{"
  std::string_view close;  // the last "}"
  std::vector<SchemaFieldSyntax> fields;  // in the order written, repeats included
};
std::expected<SchemaArguments, VyrlError> parse_schema_arguments(std::string_view arguments);

// The tokens of a schema body, by either road: the general one, or the quiet
// one parse_schema_arguments takes for a body without a byte of 0x80 or above
// (which the caller must ensure for it). The tests hold the two together.
enum class TokenRoad { general, quiet };
std::vector<std::string_view> schema_body_tokens(std::string_view body, TokenRoad road);

// @import path: the path with one pair of enclosing quotes removed.
std::expected<std::string_view, VyrlError> parse_import_arguments(std::string_view arguments);

// @derive path[::Schema...]: never refused here; an empty path fails when opened.
// Accepts `path`, `path::A::B`, `"path" A::B`, `"path"::A` and `'path':A :: B`.
struct DeriveTarget {
  std::string_view path;
  std::vector<std::string_view> schemas;  // none selected means all of them
};
DeriveTarget split_derive_arguments(std::string_view arguments);

}  // namespace vyrl
