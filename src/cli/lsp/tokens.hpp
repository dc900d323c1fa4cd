#pragma once

#include <cstdint>
#include <optional>

#include "lsp/diagnose.hpp"
#include "lsp/protocol.hpp"

namespace vyrl::cli::lsp {

// What the server colours, read as loading reads the text: a comment is
// exactly what the loader cuts as one, a value's kind is what the core's own
// number and colour rules say of it, and a type name is what it resolves to.
// The numbers are the protocol's: a type counts as its place in the legend,
// a modifier as its bit.
enum class TokenType : std::uint32_t {
  key,         // "property": keys, also of inline objects, and schema fields
  text,        // "string": plain and quoted values, and paths
  number,      // "number": numbers, and colours
  comment,     // "comment"
  directive,   // "keyword": @import, @type, @schema, @derive
  type,        // "type": built-in type names, and names nothing declares
  schema,      // "class": schema names
  alias,       // "typeParameter": alias names
  unit,        // "enumMember": physics:: names
};

namespace token_modifier {
inline constexpr std::uint32_t declaration = 1;      // where a schema, alias or field is declared
inline constexpr std::uint32_t default_library = 2;  // a built-in type or unit
inline constexpr std::uint32_t color = 4;            // a number that is a colour, #RRGGBB or #RRGGBBAA
inline constexpr std::uint32_t path = 8;             // the path of an @import or @derive
}  // namespace token_modifier

SemanticTokensLegend token_legend();

// The tokens of `document`, or only those that overlap `range`, with places
// in the workspace's encoding. A token over several lines (a quoted path in
// a directive block, say) is cut into one a line, as clients that cannot
// take multi-line tokens need. Type names are looked up among the
// declarations the document sees, its imports' included.
SemanticTokens semantic_tokens(const OpenText& document, const Workspace& workspace, std::optional<Range> range);

}  // namespace vyrl::cli::lsp
