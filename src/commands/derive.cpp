#include "commands/derive.hpp"

#include <string>

#include "vyrl/document.hpp"
#include "vyrl/nesting.hpp"
#include "vyrl/text.hpp"

namespace vyrl {
namespace {

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

// The guard is held only while the base loads: that is when its own @import and
// @derive lines could lead back to a file already on the way.
Result<VYRL> load_base(std::string_view path) {
  auto guard = FileNestingGuard::enter(path);
  if (!guard) {
    return fail(VyrlError::directive(std::string(kDeriveDirective), nesting_refusal_reason(guard.error(), path)));
  }
  return VYRL::load(path);
}

}  // namespace

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

Status DeriveCommand::execute(VYRL& document, std::string_view arguments) const {
  const DeriveTarget target = split_derive_arguments(arguments);

  Result<VYRL> loaded = load_base(target.path);
  if (!loaded) return fail(std::move(loaded.error()));
  VYRL& base = *loaded;

  // Only the schemas held before this line must be complete; those arriving
  // from the base answer to the base file.
  std::vector<std::string> declared;
  declared.reserve(document.schemas().size());
  for (const auto& entry : document.schemas()) declared.push_back(entry.first);

  if (target.schemas.empty()) {
    // import_schema takes each schema out of the base, so collect the names first.
    std::vector<std::string> all;
    all.reserve(base.schemas().size());
    for (const auto& entry : base.schemas()) all.push_back(entry.first);
    for (const std::string& name : all) {
      if (auto imported = document.import_schema(name, base); !imported) return imported;
    }
  } else {
    for (const std::string_view name : target.schemas) {
      if (auto imported = document.import_schema(name, base); !imported) return imported;
    }
  }

  document.merge_map_weak(base);
  return document.validate_schemas_completeness_for(declared);
}

}  // namespace vyrl
