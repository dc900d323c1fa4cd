// Where a failure is and what may have been meant, checked against the table
// of nested failures that the tool's and the module's tests read as well.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "vyrl/diagnostics.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

struct Scenario {
  std::string name;
  std::map<std::string, std::string> files;
  std::string load;
  std::string message;
  std::string kind;
  std::vector<Frame> frames;
  std::string hint;
};

Frame::Origin origin_named(const std::string& name) {
  if (name == "imported") return Frame::Origin::imported;
  if (name == "derived") return Frame::Origin::derived;
  if (name == "text") return Frame::Origin::text;
  return Frame::Origin::file;
}

// The format is described at the top of the table itself.
std::vector<Scenario> read_table() {
  std::ifstream in(VYRL_FAILURE_TABLE);
  std::vector<Scenario> table;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.front() == '#') continue;
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "scenario") {
      table.emplace_back();
      table.back().name = rest;
    } else if (word == "write") {
      const std::size_t colon = rest.find(':');
      const std::string text = colon + 1 < rest.size() ? rest.substr(colon + 2) : "";
      table.back().files[rest.substr(0, colon)] += text + "\n";
    } else if (word == "frame") {
      std::istringstream fields(rest);
      Frame frame;
      std::string origin;
      fields >> frame.source >> frame.line >> origin;
      frame.origin = origin_named(origin);
      table.back().frames.push_back(frame);
    } else if (word == "load") {
      table.back().load = rest;
    } else if (word == "message") {
      table.back().message = rest;
    } else if (word == "kind") {
      table.back().kind = rest;
    } else if (word == "hint") {
      table.back().hint = rest;
    } else {
      ADD_FAILURE() << "unknown line in the failure table: " << line;
    }
  }
  return table;
}

class FailureChainTest : public testing::ScratchDir, public ::testing::WithParamInterface<Scenario> {};

TEST_P(FailureChainTest, NamesEveryFrameAndKeepsTheMessage) {
  const Scenario& scenario = GetParam();
  for (const auto& [name, text] : scenario.files) write(name, text);
  const auto loaded = VYRL::load(scenario.load);
  ASSERT_FALSE(loaded);
  const VyrlError& error = loaded.error();
  EXPECT_EQ(error.message(), scenario.message);
  EXPECT_STREQ(error.kind_name(), scenario.kind.c_str());
  EXPECT_EQ(error.frames(), scenario.frames);
  const auto notes = describe_location(error);
  ASSERT_FALSE(notes.empty());
  if (scenario.hint.empty()) {
    EXPECT_FALSE(notes.back().starts_with("did you mean")) << notes.back();
  } else {
    EXPECT_EQ(notes.back(), scenario.hint);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FailureChainTest, ::testing::ValuesIn(read_table()),
                         [](const auto& info) { return info.param.name; });

TEST(FailureTableTest, IsNotEmpty) { EXPECT_GE(read_table().size(), 8u); }

TEST(SuggestTypeNamesTest, OffersOnlyNamesThatLookLikeSlips) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"intt", {"i32"}},                // nearer "watt" by edits, but meant as an integer
      {"int", {"i32"}},                 // a habit from elsewhere
      {"f46", {"f64"}},                 // two neighbours swapped
      {"COLOUR", {"color"}},            // letter case does not count
      {"kelvn", {"physics::kelvin"}},   // a unit written without its family
      {"byt", {"physics::bit", "physics::byte"}},
      {"port", {}},                     // a word of its own, not "volt" misspelt
      {"Server", {}},
      {"", {}},
      {std::string(65, 'i'), {}},
  };
  for (const auto& [unknown, expected] : cases) {
    SCOPED_TRACE(unknown);
    EXPECT_EQ(suggest_type_names(unknown), expected);
  }
}

TEST(FindBuiltinTypeTest, FindsTheEntryLoadingResolvesEachSpellingTo) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"i32", "i32"},
      {"physics::Meter_Per_Second", "physics::meterPerSecond"},
      {"physics::\u212Aelvin", "physics::kelvin"},  // the Kelvin sign, as loading reads it
      {"physics::atomic-mass-unit", "physics::dalton"},
      {"list<physics::dalton>", "list<T>"},
      {"time::duration", "time::duration"},
      {"I32", ""},            // primitives match exactly
      {"time::Hour", ""},
      {"physics::nope", ""},
      {"Server", ""},
  };
  for (const auto& [written, expected] : cases) {
    SCOPED_TRACE(written);
    const BuiltinType* found = find_builtin_type(written);
    EXPECT_EQ(found == nullptr ? "" : found->name, expected);
    // Whatever the catalogue finds, a value check accepts as a type name, and the reverse.
    const Status checked = VYRL().validate_value(written, "1");
    EXPECT_EQ(found != nullptr, checked || !checked.error().is<VyrlError::NotFound>());
  }
  for (const BuiltinType& type : builtin_types()) EXPECT_FALSE(type.description.empty()) << type.name;
}

TEST(NearestNamesTest, OffersTheNearestSlipsInTheOrderGiven) {
  const std::vector<std::string_view> words = {"check", "get", "keys", "dump", "set", "--strict", "--json"};
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"chek", {"check"}},
      {"CHECK", {"check"}},          // letter case does not count
      {"kyes", {"keys"}},            // two neighbours swapped
      {"--strct", {"--strict"}},
      {"ket", {"get", "set"}},       // both one edit away, in the order given
      {"sets", {"set"}},             // "keys" is two edits away, "set" one
      {"frob", {}},
      {"", {}},
      {std::string(65, 'c'), {}},
  };
  for (const auto& [word, expected] : cases) {
    SCOPED_TRACE(word);
    EXPECT_EQ(nearest_names(word, words), expected);
  }
}

}  // namespace
}  // namespace vyrl
