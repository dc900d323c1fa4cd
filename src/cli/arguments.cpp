#include "arguments.hpp"

#include <algorithm>

#include "vyrl/diagnostics.hpp"

namespace vyrl::cli {
namespace {

std::string option_needs_value(std::string_view name) { return "option '" + std::string(name) + "' needs a value"; }
std::string option_takes_no_value(std::string_view name) {
  return "option '" + std::string(name) + "' takes no value";
}

bool contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::string unknown_option(std::string_view word) { return "unknown option '" + std::string(word) + "'"; }

std::string did_you_mean(std::string_view word, std::span<const std::string_view> names) {
  const std::vector<std::string> near = nearest_names(word, names);
  if (near.empty()) return {};
  std::string text = "\ndid you mean ";
  for (std::size_t i = 0; i < near.size(); ++i) {
    if (i > 0) text += i + 1 == near.size() ? " or " : ", ";
    text += "'" + near[i] + "'";
  }
  return text + "?";
}

bool Arguments::has(std::string_view flag) const { return contains(flags, flag); }

std::optional<std::string_view> Arguments::value(std::string_view option) const {
  for (auto it = values.rbegin(); it != values.rend(); ++it) {
    if (it->first == option) return it->second;
  }
  return std::nullopt;
}

std::expected<Arguments, std::string> parse_arguments(std::span<char* const> words, const OptionTable& options,
                                                      std::size_t max_positionals) {
  Arguments parsed;
  bool options_ended = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string_view word = words[i];
    const std::size_t given = parsed.positionals.size();
    const bool between_arguments = given > 0 && given < max_positionals;
    if (options_ended || (word != "--" && between_arguments) || (!word.starts_with("--") && word != "-h")) {
      parsed.positionals.push_back(word);
      continue;
    }
    if (word == "--") {
      options_ended = true;
      continue;
    }
    if (word == "-h" || word == "--help") {
      parsed.help = true;
      continue;
    }
    const std::size_t equals = word.find('=');
    const std::string_view name = word.substr(0, equals);
    if (contains(options.flags, name)) {
      if (equals != std::string_view::npos) return std::unexpected(option_takes_no_value(name));
      parsed.flags.push_back(name);
    } else if (contains(options.valued, name)) {
      if (equals != std::string_view::npos) {
        parsed.values.emplace_back(name, word.substr(equals + 1));
      } else if (i + 1 < words.size()) {
        parsed.values.emplace_back(name, std::string_view(words[++i]));
      } else {
        return std::unexpected(option_needs_value(name));
      }
    } else {
      std::vector<std::string_view> known{"--help"};
      known.insert(known.end(), options.flags.begin(), options.flags.end());
      known.insert(known.end(), options.valued.begin(), options.valued.end());
      return std::unexpected(unknown_option(word) + did_you_mean(name, known));
    }
  }
  return parsed;
}

}  // namespace vyrl::cli
