#pragma once

#include <string>
#include <string_view>

namespace vyrl::cli {

// The lines that differ between `before` and `after` as a unified diff with
// three lines of context, headed by `name`; empty when the texts are equal.
std::string unified_diff(std::string_view name, std::string_view before, std::string_view after);

}  // namespace vyrl::cli
