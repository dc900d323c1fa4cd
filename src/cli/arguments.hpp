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
// the text of a usage error: an unknown option's has a second line naming the
// option it may have meant.
std::expected<Arguments, std::string> parse_arguments(std::span<char* const> words, const OptionTable& options,
                                                      std::size_t max_positionals);

std::string unknown_option(std::string_view word);

// "\ndid you mean 'check'?" for a word that looks like a slip for one of
// `names`, to follow the line that refused it; empty otherwise.
std::string did_you_mean(std::string_view word, std::span<const std::string_view> names);

}  // namespace vyrl::cli
