#include "vyrl/diagnostics.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "text/ascii.hpp"
#include "types/families.hpp"

namespace vyrl {
namespace {

// Longer names are not compared: nobody misspells a type that long, and the
// cost of edit distance grows with both lengths.
constexpr std::size_t kLongestSuggestible = 64;
constexpr std::size_t kMostSuggestions = 3;

std::string how_reached(Frame::Origin origin) {
  return origin == Frame::Origin::derived ? "derived from " : "imported from ";
}

// A path comes from the text that named it, so it is quoted as any other text
// from the input is: the notes stay as bounded as the message.
std::string where(const Frame& frame, std::string_view separator) {
  if (frame.line == 0) return excerpt(frame.source);
  return excerpt(frame.source) + std::string(separator) + std::to_string(frame.line);
}

std::string hint(const VyrlError& error) {
  if (error.unknown_type().empty()) return {};
  const auto names = suggest_type_names(error.unknown_type());
  if (names.empty()) return {};
  std::string text = "did you mean ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += "'" + names[i] + "'";
  }
  return text + "?";
}

// Edit distance over ASCII-folded bytes, a swap of two neighbours counting as
// one edit: "f46" is one slip from "f64", not two.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> before(b.size() + 1);
  std::vector<std::size_t> above(b.size() + 1);
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) above[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = ascii_lower(a[i - 1]) == ascii_lower(b[j - 1]);
      row[j] = std::min({above[j] + 1, row[j - 1] + 1, above[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && ascii_lower(a[i - 1]) == ascii_lower(b[j - 2]) &&
          ascii_lower(a[i - 2]) == ascii_lower(b[j - 1])) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
    std::swap(before, above);
    std::swap(above, row);
  }
  return above[b.size()];
}

// Names that other languages give the primitives. Nobody misspells "i32" as
// "int", but plenty of people write "int" out of habit, and "intt" is closer
// to "watt" than to "i32" by edits alone.
struct Synonym {
  std::string_view word;
  std::string_view primitive;
};
constexpr Synonym kSynonyms[] = {
    {"int", "i32"},       {"integer", "i32"}, {"long", "i32"},  {"float", "f64"},
    {"double", "f64"},    {"number", "f64"},  {"str", "string"}, {"text", "string"},
    {"boolean", "bool"},
};

}  // namespace

std::vector<std::string> describe_location(const VyrlError& error) {
  std::vector<std::string> notes;
  const std::vector<Frame>& frames = error.frames();
  if (!frames.empty()) {
    const Frame& failing = frames.back();
    if (failing.line > 0) {
      notes.push_back("in " + where(failing, ", line "));
    } else {
      notes.push_back((error.is<VyrlError::IoError>() ? "while reading " : "in ") + excerpt(failing.source));
    }
    for (std::size_t i = frames.size() - 1; i-- > 0;) {
      notes.push_back(how_reached(frames[i + 1].origin) + where(frames[i], ", line "));
    }
  }
  if (std::string text = hint(error); !text.empty()) notes.push_back(std::move(text));
  return notes;
}

std::string compiler_report(const VyrlError& error) {
  const std::vector<Frame>& frames = error.frames();
  std::string report;
  if (!frames.empty()) report = where(frames.back(), ":") + ": ";
  report += error.message() + "\n";
  for (std::size_t i = frames.empty() ? 0 : frames.size() - 1; i-- > 0;) {
    report += "  " + how_reached(frames[i + 1].origin) + where(frames[i], ":") + "\n";
  }
  if (std::string text = hint(error); !text.empty()) report += "  " + text + "\n";
  return report;
}

std::vector<BuiltinType> builtin_types() {
  std::vector<BuiltinType> types;
  types.push_back({"list<T>", "list", {}});
  for (const TypeFamily& family : kTypeFamilies) {
    for (TypeFamily::Member& member : family.members()) {
      BuiltinType type{std::string(family.prefix) + member.name, std::string(family.name), {}};
      for (const std::string& alias : member.aliases) type.aliases.push_back(std::string(family.prefix) + alias);
      types.push_back(std::move(type));
    }
  }
  return types;
}

std::vector<std::string> suggest_type_names(std::string_view unknown) {
  if (unknown.empty() || unknown.size() > kLongestSuggestible) return {};
  // Near enough to be a slip rather than another word. Short names get one
  // edit only: two edits turn "port" into "volt", "torr" and "phot".
  const std::size_t tolerance = std::max<std::size_t>(1, unknown.size() / 3);
  const bool bare = unknown.find("::") == std::string_view::npos;
  std::vector<std::pair<std::size_t, std::string>> near;
  for (const BuiltinType& type : builtin_types()) {
    if (type.family == "list") continue;
    std::size_t best = distance(unknown, type.name);
    // "meter" is a unit written without its family.
    if (const std::size_t colon = type.name.find("::"); bare && colon != std::string::npos) {
      best = std::min(best, distance(unknown, std::string_view(type.name).substr(colon + 2)));
    }
    if (bare && type.family == "primitive") {
      for (const Synonym& synonym : kSynonyms) {
        if (synonym.primitive == type.name) best = std::min(best, distance(unknown, synonym.word));
      }
    }
    if (best <= tolerance) near.emplace_back(best, type.name);
  }
  // Only the nearest are offered, in the catalogue's order.
  std::size_t nearest = SIZE_MAX;
  for (const auto& [score, name] : near) nearest = std::min(nearest, score);
  std::vector<std::string> names;
  for (auto& [score, name] : near) {
    if (names.size() == kMostSuggestions) break;
    if (score == nearest) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace vyrl
