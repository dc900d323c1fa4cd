#pragma once

#include <string_view>

#include "vyrl/error.hpp"

namespace vyrl {

class Store;

// What a directive that reads a file asks of whoever is loading: read `path`
// and merge it into `into` (the document's own store for @import, a fresh one
// for @derive), within the nesting and file limits of the current call. A
// refused load (a cycle, nesting too deep, too many files) is reported through
// `refuse`, in the directive's own kind of error.
struct NestedRequest {
  std::string_view path;
  Frame::Origin origin;
  std::string_view arguments;
  VyrlError (*refuse)(std::string_view arguments, std::string reason);
};

class NestedLoad {
 public:
  virtual Status load_file(Store& into, const NestedRequest& request) = 0;

 protected:
  ~NestedLoad() = default;
};

// All a directive handler sees: the registries it may change, the line it
// stands on, and the one way to read another file.
struct DirectiveContext {
  Store& store;
  std::size_t line;
  NestedLoad& nested;
};

// A directive handler. Handlers hold no state; the table of them is fixed.
struct Directive {
  std::string_view name;  // without "@"
  // `arguments` is the rest of the line after the name and one white-space character.
  Status (*execute)(const DirectiveContext& context, std::string_view arguments);
};

// The handler for `name`, or null for an unknown directive.
const Directive* find_directive(std::string_view name) noexcept;

Status execute_import(const DirectiveContext& context, std::string_view arguments);
Status execute_type(const DirectiveContext& context, std::string_view arguments);
Status execute_schema(const DirectiveContext& context, std::string_view arguments);
Status execute_derive(const DirectiveContext& context, std::string_view arguments);

}  // namespace vyrl
