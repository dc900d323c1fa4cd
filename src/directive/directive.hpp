#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "vyrl/error.hpp"

namespace vyrl {

class Store;
namespace detail {
class ModelRecorder;
}

// What a directive that reads a file asks of whoever is loading: read `path`
// and merge it into `into` (the document's own store for @import, a fresh one
// for @derive), within the nesting and file limits of the current call.
struct NestedRequest {
  std::string_view path;
  Frame::Origin origin;
};

// Why a file was not even opened: it is already being loaded further up, or
// a limit of the call was reached. The directive that asked words the error.
struct NestedRefusal {
  enum class Why { Cycle, TooDeep, TooMany } why;
  std::size_t limit;  // the nesting depth or the number of files reached
};

// The reason text both file-reading directives give for a refusal.
std::string nested_refusal_reason(const NestedRefusal& refusal, std::string_view path);

class NestedLoad {
 public:
  // The merge's own result, or the refusal to start it.
  virtual std::expected<Status, NestedRefusal> load_file(Store& into, const NestedRequest& request) = 0;

 protected:
  ~NestedLoad() = default;
};

// All a directive handler sees: the registries it may change and the one way
// to read another file.
struct DirectiveContext {
  Store& store;
  NestedLoad& nested;
  detail::ModelRecorder* recorder = nullptr;  // set when the load records a model
};

// A directive handler. Handlers hold no state; the table of them is fixed.
struct Directive {
  std::string_view name;  // without "@"
  // `arguments` is the rest of the line after the name and one white-space character.
  Status (*execute)(const DirectiveContext& context, std::string_view arguments);
};

// The handler for the directive `name` names, or null for an unknown one.
const Directive* find_directive(std::string_view name) noexcept;

Status execute_import(const DirectiveContext& context, std::string_view arguments);
Status execute_type(const DirectiveContext& context, std::string_view arguments);
Status execute_schema(const DirectiveContext& context, std::string_view arguments);
Status execute_derive(const DirectiveContext& context, std::string_view arguments);

}  // namespace vyrl
