#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyrl::cli {

// The options one command accepts besides its positional arguments.
struct OptionTable {
  std::vector<std::string_view> flags;   // switches, e.g. "--deep"
  std::vector<std::string_view> valued;  // "--file X" or "--file=X"
};

struct Arguments {
  std::vector<std::string_view> positionals;
  std::vector<std::string_view> flags;
  std::vector<std::pair<std::string_view, std::string_view>> values;
  bool help = false;

  bool has(std::string_view flag) const;
  // The last value given for `option`, as repeated options usually behave.
  std::optional<std::string_view> value(std::string_view option) const;
};

// Reads the words that follow the command name. Only words that start with
// "--" (and "-h") are options, and only where the usage puts them: before the
// first positional argument, or once all `max_positionals` are given. A word
// in between is the next argument whatever it looks like, so a key or value
// such as "-h" or "--json" needs no quoting, nor do "-5", "-inf" and the "-"
// that names standard input. After "--" every word is positional. Fails with
// the text of a usage error.
std::expected<Arguments, std::string> parse_arguments(std::span<char* const> words, const OptionTable& options,
                                                      std::size_t max_positionals);

std::string unknown_option(std::string_view word);

}  // namespace vyrl::cli
