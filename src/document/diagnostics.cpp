#include "vyrl/diagnostics.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <cstdint>
#include <map>
#include <set>
#include <utility>

#include "text/ascii.hpp"
#include "types/families.hpp"
#include "types/list.hpp"
#include "types/primitive_type.hpp"
#include "types/resolve.hpp"

namespace vyrl {
namespace {

// Longer names are not compared: nobody misspells a type that long, and the
// cost of edit distance grows with both lengths.
constexpr std::size_t kLongestSuggestible = 64;
constexpr std::size_t kMostSuggestions = 3;
// Declared names compared with one unknown name: at most kMostCompared, and
// kLeastCompared once a file's unknown names have used up kComparisonBudget.
constexpr std::size_t kMostCompared = 1024;
constexpr std::size_t kLeastCompared = 16;
constexpr std::size_t kComparisonBudget = 100'000;

std::string how_reached(Frame::Origin origin) {
  return origin == Frame::Origin::derived ? "derived from " : "imported from ";
}

// A path comes from the text that named it, so it is quoted as any other text
// from the input is: the notes stay as bounded as the message.
std::string where(const Frame& frame, std::string_view separator) {
  if (frame.line == 0) return excerpt(frame.source);
  return excerpt(frame.source) + std::string(separator) + std::to_string(frame.line);
}

std::string quoted_choices(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return text;
}

std::string fix_hint(const VyrlError& error) {
  using Slip = VyrlError::Slip;
  const auto line = [&] { return "line " + std::to_string(error.slip_line()); };
  switch (error.slip()) {
    case Slip::none:
      break;
    case Slip::colon_apart:
      return "a field is written 'name: type', with the ':' right after the name";
    case Slip::list_alias:
      // As the warning about such an alias words it.
      return "a list type cannot be aliased; write '" + excerpt(error.unknown_type()) + "' where it is used";
    case Slip::import_without_path:
      return "@import needs the path of a file, e.g. '@import other.vyr'";
    case Slip::i32_out_of_range:
      return "the integer is out of the range of i32 (-2147483648 to 2147483647)";
    case Slip::block_not_closed:
      return "the '{' opened on " + line() + " is never closed; end the block with '}'";
    case Slip::value_over_lines:
      return "the value opened on " + line() + " must close on that same line: an assignment cannot go on over lines";
  }
  return {};
}

std::string hint(const VyrlError& error) {
  if (error.unknown_type().empty()) return {};
  const auto names = suggest_type_names(error.unknown_type());
  if (names.empty()) return {};
  return "did you mean " + quoted_choices(names) + "?";
}

// Edit distance over ASCII-folded bytes, a swap of two neighbours counting as
// one edit: "f46" is one slip from "f64", not two. Past `limit` the exact
// figure does not matter: once a whole row exceeds it, so will the answer,
// and limit + 1 comes back at once.
std::size_t distance(std::string_view a, std::string_view b, std::size_t limit = SIZE_MAX) {
  if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
  // Names are short; three rows of a short one fit on the stack.
  constexpr std::size_t kRowsOnStack = 128;
  std::array<std::size_t, 3 * kRowsOnStack> stack;
  std::vector<std::size_t> heap;
  std::size_t* rows = stack.data();
  if (b.size() >= kRowsOnStack) {
    heap.resize(3 * (b.size() + 1));
    rows = heap.data();
  }
  const std::size_t width = b.size() + 1;
  std::size_t* before = rows;
  std::size_t* above = rows + width;
  std::size_t* row = rows + 2 * width;
  for (std::size_t j = 0; j <= b.size(); ++j) above[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    std::size_t least = row[0];
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = ascii_lower(a[i - 1]) == ascii_lower(b[j - 1]);
      row[j] = std::min({above[j] + 1, row[j - 1] + 1, above[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && ascii_lower(a[i - 1]) == ascii_lower(b[j - 2]) &&
          ascii_lower(a[i - 2]) == ascii_lower(b[j - 1])) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
      least = std::min(least, row[j]);
    }
    // A swap reaches back two rows, so both must be past the limit.
    if (least > limit && std::ranges::min(std::span(above, width)) > limit) return limit + 1;
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

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Aliases are looked up by the definition text alone, once a value is
// checked: only a primitive's name or a built-in path ever accepts a value.
bool definition_can_work(std::string_view definition) {
  if (definition.find("::") != std::string_view::npos) return static_cast<bool>(resolve_builtin(definition));
  return static_cast<bool>(PrimitiveType::from_name(definition));
}

// The bytes of `part`, a view into `whole.text`, as a span of their own. A
// type is one word, so they stay on the line `whole` starts on.
Span narrow(const Span& whole, std::string_view part) {
  const auto skip = static_cast<std::size_t>(part.data() - whole.text.data());
  return Span{whole.offset + skip, whole.line, whole.column + static_cast<std::uint32_t>(skip), part};
}

class Linter {
 public:
  explicit Linter(const SyntaxTree& tree) : tree_(tree) {
    for (const SyntaxLine& statement : tree.statements()) {
      if (statement.kind != SyntaxKind::directive) continue;
      const DirectiveSpans spans = tree.directive(statement);
      switch (spans.kind) {
        case DirectiveKind::type:
          aliases_.insert_or_assign(std::string(spans.subject.text), spans.definition.text);
          break;
        case DirectiveKind::schema:
          schemas_.insert(std::string(spans.subject.text));
          break;
        case DirectiveKind::import:
        case DirectiveKind::derive:
          reaches_other_files_ = true;
          break;
        case DirectiveKind::unknown:
          break;
      }
    }
  }

  std::vector<Warning> run() {
    if (tree_.text().starts_with(kByteOrderMark)) {
      add(Warning::Kind::byte_order_mark, Span{0, 1, 0, tree_.text().substr(0, kByteOrderMark.size())},
          "the byte-order mark becomes part of the first line", {""});
    }
    for (const SyntaxLine& statement : tree_.statements()) {
      if (statement.kind == SyntaxKind::directive) {
        const DirectiveSpans spans = tree_.directive(statement);
        if (spans.kind == DirectiveKind::type) check_definition(spans);
        for (const SchemaFieldSpans& field : spans.fields) check_name(field.type);
      } else if (statement.kind == SyntaxKind::unreadable) {
        const DirectiveSpans spans = tree_.directive(statement);
        check_directive_name(spans.kind, spans.name);
      }
    }
    return std::move(warnings_);
  }

 private:
  bool declared(std::string_view name) const {
    return aliases_.contains(std::string(name)) || schemas_.contains(std::string(name));
  }

  // Schema fields and list items look a name up among aliases, then schemas,
  // then the built-in types; list<T> is known when T is.
  void check_name(const Span& type) {
    if (type.empty() || declared(type.text)) return;
    if (const auto element = ListType::parse_inner(type.text)) return check_name(narrow(type, *element));
    if (resolve_builtin(type.text)) return;
    // Another file may declare the name, but no one names an alias or schema
    // like a built-in path.
    if (reaches_other_files_ && type.text.find("::") == std::string_view::npos) return;
    report_unknown(type);
  }

  // The file's own names come first: a slip is likelier in a name the author
  // made up than in a built-in one.
  void report_unknown(const Span& type) {
    std::vector<std::string> names = nearest_declared(type.text);
    for (std::string& name : suggest_type_names(type.text)) {
      if (names.size() == kMostSuggestions) break;
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    }
    std::string message = "type '" + excerpt(type.text) + "' names nothing";
    if (!names.empty()) message += "; did you mean " + quoted_choices(names) + "?";
    add(Warning::Kind::unknown_type, type, std::move(message), std::move(names));
  }

  // The declared names nearest to `unknown` by edit distance, in the order
  // the declarations are listed (aliases, then schemas, each sorted). Two
  // names differ by at least their lengths' difference, so only names of a
  // length near enough are compared, nearest lengths first, and a file's
  // unknown names share a budget of comparisons: a file with thousands of
  // names of one length and as many unknown ones must not cost their product.
  std::vector<std::string> nearest_declared(std::string_view unknown) {
    if (unknown.size() > kLongestSuggestible) return {};
    const std::vector<Named>& by_length = declared_by_length();
    std::vector<const Named*> found;
    std::size_t nearest = std::max<std::size_t>(1, unknown.size() / 3);
    const auto consider = [&](const Named& named) {
      const std::size_t score = distance(unknown, named.name, nearest);
      if (score > nearest) return;
      if (score < nearest) found.clear();
      nearest = score;
      found.push_back(&named);
    };
    const auto gap = [&](const Named& named) {
      return named.name.size() > unknown.size() ? named.name.size() - unknown.size() : unknown.size() - named.name.size();
    };
    auto above = std::ranges::lower_bound(by_length, unknown.size(), {}, [](const Named& n) { return n.name.size(); });
    auto below = above;
    const std::size_t allowed = std::max(kLeastCompared, std::min(kMostCompared, budget_));
    std::size_t compared = 0;
    bool cut_short = false;  // names near enough in length were left uncompared
    for (;; ++compared) {
      const bool up = above != by_length.end() && gap(*above) <= nearest;
      const bool down = below != by_length.begin() && gap(*(below - 1)) <= nearest;
      if (!up && !down) break;
      if (compared == allowed) {
        cut_short = true;
        break;
      }
      if (up && (!down || gap(*above) <= gap(*(below - 1)))) {
        consider(*above++);
      } else {
        consider(*--below);
      }
    }
    budget_ -= std::min(budget_, compared);
    // One edit is as near as another name can be; anything further may be
    // beaten by a name that was not compared, and a wrong guess misleads.
    if (cut_short && nearest > 1) found.clear();
    std::ranges::sort(found, {}, &Named::rank);
    std::vector<std::string> names;
    for (const Named* named : found) {
      if (names.empty() || names.back() != named->name) names.emplace_back(named->name);
    }
    return names;
  }

  struct Named {
    std::string_view name;
    std::size_t rank;  // where it stands among the declarations listed
  };

  const std::vector<Named>& declared_by_length() {
    if (by_length_.empty()) {
      for (const auto& [name, definition] : aliases_) by_length_.push_back({name, by_length_.size()});
      for (const std::string& name : schemas_) by_length_.push_back({name, by_length_.size()});
      std::ranges::stable_sort(by_length_, {}, [](const Named& n) { return n.name.size(); });
    }
    return by_length_;
  }

  void check_definition(const DirectiveSpans& spans) {
    const Span& definition = spans.definition;
    if (definition.empty()) return;
    if (definition.text.find("::") != std::string_view::npos) return check_name(definition);
    if (PrimitiveType::from_name(definition.text)) return;
    const std::string alias = excerpt(spans.subject.text);
    if (const auto target = aliases_.find(std::string(definition.text)); target != aliases_.end()) {
      std::string message = "alias '" + alias + "' accepts no value: '" + excerpt(definition.text) +
                            "' is an alias, and aliases do not chain";
      std::vector<std::string> fix;
      if (definition_can_work(target->second)) {
        message += "; define it as '" + excerpt(target->second) + "'";
        fix.emplace_back(target->second);
      }
      return add(Warning::Kind::alias_accepts_no_value, definition, std::move(message), std::move(fix));
    }
    if (!declared(definition.text) && !resolve_builtin(definition.text) && !reaches_other_files_) {
      return report_unknown(definition);
    }
    add(Warning::Kind::alias_accepts_no_value, definition,
        "alias '" + alias + "' accepts no value; write '" + excerpt(definition.text) + "' where it is used", {});
  }

  // The loader refuses the line already; near a known name, the slip is
  // worth a fix.
  void check_directive_name(DirectiveKind kind, const Span& name) {
    if (name.empty() || name.offset == 0 || kind != DirectiveKind::unknown) return;
    std::vector<std::string> near;
    for (const DirectiveKind each : kDirectiveKinds) {
      const std::string_view known = directive_name(each);
      if (distance(name.text, known) <= std::max<std::size_t>(1, known.size() / 3)) {
        std::string spelled(1, '@');
        spelled += known;
        near.push_back(std::move(spelled));
      }
    }
    if (near.empty()) return;
    const Span written{name.offset - 1, name.line, name.column - 1,
                       std::string_view(name.text.data() - 1, name.text.size() + 1)};
    std::string message(1, '\'');
    message += excerpt(written.text);
    message += "' is no directive; did you mean ";
    message += quoted_choices(near);
    message += '?';
    add(Warning::Kind::unknown_directive, written, std::move(message), std::move(near));
  }

  void add(Warning::Kind kind, const Span& where, std::string message, std::vector<std::string> replacements) {
    warnings_.push_back(Warning{kind, where, std::move(message), std::move(replacements)});
  }

  const SyntaxTree& tree_;
  std::map<std::string, std::string_view> aliases_;  // the last definition of each
  std::set<std::string> schemas_;
  std::vector<Named> by_length_;  // views of the names above, built at the first unknown name
  std::size_t budget_ = kComparisonBudget;
  bool reaches_other_files_ = false;
  std::vector<Warning> warnings_;
};

}  // namespace

std::vector<Warning> lint(std::string_view text) {
  const SyntaxTree tree = read_syntax(text);
  return Linter(tree).run();
}

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

std::vector<std::string> fix_hints(const VyrlError& error) {
  std::vector<std::string> hints;
  if (std::string text = fix_hint(error); !text.empty()) hints.push_back(std::move(text));
  return hints;
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
  types.push_back({"list<T>", "list", {}, "`[item, item, ...]` with every item valid for the type between `<` and `>`"});
  for (const TypeFamily& family : kTypeFamilies) {
    for (TypeFamily::Member& member : family.members()) {
      BuiltinType type{std::string(family.prefix) + member.name, std::string(family.name), {},
                       std::move(member.description)};
      for (const std::string& alias : member.aliases) type.aliases.push_back(std::string(family.prefix) + alias);
      types.push_back(std::move(type));
    }
  }
  return types;
}

const BuiltinType* find_builtin_type(std::string_view name) {
  static const std::vector<BuiltinType> catalogue = builtin_types();
  // Where each family's members start in the catalogue, after list<T>.
  static const std::array<std::size_t, kTypeFamilies.size()> first = [] {
    std::array<std::size_t, kTypeFamilies.size()> out{};
    std::size_t at = 1;
    for (std::size_t i = 0; i < kTypeFamilies.size(); ++i) {
      out[i] = at;
      at += kTypeFamilies[i].members().size();
    }
    return out;
  }();
  if (ListType::parse_inner(name)) return &catalogue.front();
  const TypeFamily* family = family_of(name);
  if (family == nullptr) return nullptr;
  const std::size_t position = family->position(name.substr(family->prefix.size()));
  if (position == SIZE_MAX) return nullptr;
  return &catalogue[first[static_cast<std::size_t>(family - kTypeFamilies.data())] + position];
}

std::vector<std::string> nearest_names(std::string_view word, std::span<const std::string_view> candidates) {
  if (word.empty() || word.size() > kLongestSuggestible) return {};
  const std::size_t tolerance = std::max<std::size_t>(1, word.size() / 3);
  std::size_t nearest = tolerance;
  std::vector<std::string_view> found;
  for (const std::string_view candidate : candidates) {
    const std::size_t score = distance(word, candidate, nearest);
    if (score > nearest) continue;
    if (score < nearest) found.clear();
    nearest = score;
    if (found.size() < kMostSuggestions) found.push_back(candidate);
  }
  return {found.begin(), found.end()};
}

std::vector<std::string> suggest_type_names(std::string_view unknown) {
  if (unknown.empty() || unknown.size() > kLongestSuggestible) return {};
  // Near enough to be a slip rather than another word. Short names get one
  // edit only: two edits turn "port" into "volt", "torr" and "phot".
  const std::size_t tolerance = std::max<std::size_t>(1, unknown.size() / 3);
  const bool bare = unknown.find("::") == std::string_view::npos;
  // A name whose length is further off than the tolerance cannot be near:
  // a file of many unknown names asks this once for each.
  const auto near_in_length = [&](std::string_view name) {
    return (name.size() > unknown.size() ? name.size() - unknown.size() : unknown.size() - name.size()) <= tolerance;
  };
  const auto score = [&](std::string_view name) {
    return near_in_length(name) ? distance(unknown, name, tolerance) : SIZE_MAX;
  };
  static const std::vector<BuiltinType> catalogue = builtin_types();
  std::vector<std::pair<std::size_t, std::string_view>> near;
  for (const BuiltinType& type : catalogue) {
    if (type.family == "list") continue;
    std::size_t best = score(type.name);
    // "meter" is a unit written without its family.
    if (const std::size_t colon = type.name.find("::"); bare && colon != std::string::npos) {
      best = std::min(best, score(std::string_view(type.name).substr(colon + 2)));
    }
    if (bare && type.family == "primitive") {
      for (const Synonym& synonym : kSynonyms) {
        if (synonym.primitive == type.name) best = std::min(best, score(synonym.word));
      }
    }
    if (best <= tolerance) near.emplace_back(best, type.name);
  }
  // Only the nearest are offered, in the catalogue's order.
  std::size_t nearest = SIZE_MAX;
  for (const auto& [score, name] : near) nearest = std::min(nearest, score);
  std::vector<std::string> names;
  for (const auto& [score, name] : near) {
    if (names.size() == kMostSuggestions) break;
    if (score == nearest) names.emplace_back(name);
  }
  return names;
}

}  // namespace vyrl
