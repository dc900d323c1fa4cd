#pragma once

#include "store/store.hpp"
#include "vyrl/document.hpp"
#include "vyrl/options.hpp"

namespace vyrl::detail {

struct DocumentState {
  Store store;
  Options options;
};

// The registries behind a document, for the library's own tests and tools
// that are built with it; never installed.
struct DocumentAccess {
  static Store& store(VYRL& document) noexcept { return document.state_->store; }
  static const Store& store(const VYRL& document) noexcept { return document.state_->store; }
};

inline Store& store_of(VYRL& document) noexcept { return DocumentAccess::store(document); }
inline const Store& store_of(const VYRL& document) noexcept { return DocumentAccess::store(document); }

}  // namespace vyrl::detail
