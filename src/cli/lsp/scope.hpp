#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "lsp/diagnose.hpp"
#include "vyrl/diagnostics.hpp"
#include "vyrl/syntax.hpp"

namespace vyrl::cli::lsp {

// What a document can see by name: its own schemas, aliases and keys and
// those of the files it imports or derives from, each with where it is
// written. Read from layout alone, so that a document the editor holds half
// typed still offers what it declares.

struct Declaration {
  std::string name;
  std::string uri;
  std::string where;  // "file:line", for people
  Range range;        // of the name
};

struct FieldDeclaration : Declaration {
  std::string type;
  bool optional = false;
  std::string schema;
};

struct SchemaDeclaration : Declaration {
  std::vector<FieldDeclaration> fields;
};

struct AliasDeclaration : Declaration {
  std::string definition;
};

struct KeyDeclaration : Declaration {
  std::string value;
};

struct Scope {
  // In the order read, each declaration once: where two routes lead to one
  // file, its declarations stand where the later one put them.
  std::vector<SchemaDeclaration> schemas;
  std::vector<AliasDeclaration> aliases;
  std::map<std::string, KeyDeclaration> keys;  // the assignment that wins, of the key asked about
  std::unordered_set<std::string> assigned;    // every key with a value

  // The declaration that wins for a name: a later one replaces an earlier.
  const SchemaDeclaration* schema(std::string_view name) const;
  const AliasDeclaration* alias(std::string_view name) const;
  const FieldDeclaration* field(std::string_view name) const;
};

// A file a line names, read as the loader would find it.
struct Source {
  std::string uri;
  std::string path;
  std::string text;
};
std::string unquoted(std::string_view written);
std::optional<Source> read_source(std::string_view written, const Workspace& workspace);

// Where each key is assigned is kept for `key` alone: a large document has
// thousands, and an answer wants one.
// `tree`, when given, is the document's, already read.
// Each file is read once a call, however many lines lead to it, and no more
// files than loading's limit (Limits::kDefaultMaxFileLoads).
Scope gather_scope(const OpenText& document, const Workspace& workspace, std::string_view key = {},
                   const SyntaxTree* tree = nullptr);

Range range_of(std::string_view text, const Span& span, Encoding encoding);
// The same from the tree that holds the span, without a walk over the text
// before it: what a loop over every statement needs.
Range range_of(const SyntaxTree& tree, const Span& span, Encoding encoding);

// What the cursor stands on.
struct Pointed {
  enum class Kind { none, key, value, type, directive, path, selector, field } kind = Kind::none;
  std::string text;       // the name, path or word
  Span span;              // where it is written
  std::string directive;  // the statement's directive, if it is one
  std::string owner;      // a field's schema, or a selector's base path
};
Pointed pointed_at(const SyntaxTree& tree, std::size_t line, std::size_t offset);

// The built-in type a name stands for (units match as loading matches them),
// or null.
const BuiltinType* find_builtin(std::string_view name);
const std::vector<BuiltinType>& builtins();

}  // namespace vyrl::cli::lsp
