#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.hpp"
#include "vyrl/document.hpp"
#include "vyrl/model.hpp"

namespace vyrl {
namespace {

using testing::ScratchDir;

class ModelTest : public ScratchDir {
 protected:
  // Loads `path` with a model, checking what every model must agree with:
  // its first error is the plain load's, with the same frames.
  Model load(const std::string& path, std::size_t max_errors = SIZE_MAX) {
    Model model(max_errors);
    Options options;
    options.model = &model;
    const auto recorded = VYRL::load(path, options);
    const auto plain = VYRL::load(path);
    EXPECT_EQ(recorded.has_value(), plain.has_value());
    if (!plain) {
      EXPECT_EQ(recorded.error().message(), plain.error().message());
      EXPECT_EQ(recorded.error().frames(), plain.error().frames());
      EXPECT_FALSE(model.errors().empty());
      if (!model.errors().empty()) {
        EXPECT_EQ(model.errors()[0].message(), plain.error().message());
        EXPECT_EQ(model.errors()[0].frames(), plain.error().frames());
      }
    } else {
      EXPECT_TRUE(model.errors().empty());
    }
    return model;
  }

  static std::vector<std::string> located(const Model& model) {
    std::vector<std::string> out;
    for (const VyrlError& error : model.errors()) {
      const Frame& inner = error.frames().back();
      out.push_back(inner.source + ":" + std::to_string(inner.line) + ": " + error.message());
    }
    return out;
  }
};

TEST_F(ModelTest, FindsEveryErrorButThoseThatFollowFromAnEarlierOne) {
  struct Case {
    const char* text;
    std::vector<std::string> errors;
  };
  const std::vector<Case> cases = {
      {"a = 1\nb\nc = 2\n@bogus\nd = 3\n=4\n",
       {"m.vyr:2: Parse Error at line 2: 'b'. Reason: Missing assignment operator '='",
        "m.vyr:4: Parse Error at line 4: 'bogus'. Reason: Unknown directive: @bogus",
        "m.vyr:6: Parse Error at line 6: '=4'. Reason: Key cannot be empty"}},
      // The alias failed to declare, so the field that names it is not
      // reported again at each value.
      {"@type port = \n@schema S { p: port }\np = 5\nq\n", {}},
      {"@schema S { p: i32 }\np = x\np = 7\n", {}},
  };
  for (const Case& c : cases) {
    write("m.vyr", c.text);
    const Model model = load("m.vyr");
    if (!c.errors.empty()) {
      EXPECT_EQ(located(model), c.errors) << c.text;
    }
  }
  write("m.vyr", "@type port = \n@schema S { p: port }\np = 5\nq\n");
  const Model followed = load("m.vyr");
  ASSERT_EQ(followed.errors().size(), 2U) << ::testing::PrintToString(located(followed));
  EXPECT_EQ(followed.errors()[1].frames().back().line, 4U);
  EXPECT_EQ(followed.statements()[2].outcome, Model::Statement::Outcome::followed);
}

TEST_F(ModelTest, StopsAtItsLimitAndCountsTheRest) {
  write("m.vyr", "a\nb\nc\nd\n");
  const Model model = load("m.vyr", 2);
  EXPECT_EQ(model.errors().size(), 2U);
  EXPECT_EQ(model.errors_left_out(), 1U);
}

TEST_F(ModelTest, NamesTheAssignmentThatWinsAndTheRouteToIt) {
  write("t.vyr", "region = eu-west\n");
  write("s.vyr", "region = eu-north\n@import t.vyr\nzone = b\n");
  const Model model = load("s.vyr");
  const Model::Key* region = model.key("region");
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(model.winner(*region).value, "eu-west");
  EXPECT_EQ(model.describe_with_route(model.winner(*region).place), "t.vyr:1, imported at s.vyr:2");
  ASSERT_EQ(model.replaced(*region).size(), 1U);
  EXPECT_EQ(model.describe(model.assignments()[model.replaced(*region)[0]].place), "s.vyr:1");
  ASSERT_EQ(model.keys().size(), 2U);
  EXPECT_EQ(model.keys()[0].name, "region");
  ASSERT_EQ(model.reads().size(), 1U);
  EXPECT_EQ(model.describe(model.reads()[0].by), "s.vyr:2");
}

TEST_F(ModelTest, TypesAKeyWithTheSchemaTheLoaderChose) {
  write("e.vyr", "@schema Endpoint { port: i32 }\n");
  write("s.vyr", "@import e.vyr\n@schema Service { port: i32 }\nport = 80\n");
  const Model model = load("s.vyr");
  const Model::Key* port = model.key("port");
  ASSERT_NE(port, nullptr);
  const Model::Typing* typing = model.typing(model.winner(*port));
  ASSERT_NE(typing, nullptr);
  EXPECT_EQ(typing->schema, "Endpoint");
  EXPECT_EQ(typing->type_name, "i32");
  const auto resolved = model.resolve("i32");
  EXPECT_EQ(resolved.ends, Model::Resolution::Ends::builtin);
  EXPECT_EQ(resolved.family, "primitive");
}

TEST_F(ModelTest, ResolutionSaysHowABuiltInReadsAsNumbers) {
  struct Case {
    const char* type_name;
    bool whole;
    std::size_t components;
  };
  const std::vector<Case> cases = {
      {"i32", true, 0},           {"f64", false, 0},          {"physics::bit", true, 0},
      {"physics::Byte", true, 0}, {"physics::meter", false, 0}, {"math::vector3", false, 3},
      {"math::matrix4x4", false, 16}, {"counted", true, 0},   {"list<i32>", false, 0},
      {"time::hour", false, 0},
  };
  write("m.vyr", "@type counted = physics::baud\n");
  const Model model = load("m.vyr");
  for (const Case& c : cases) {
    const auto resolved = model.resolve(c.type_name);
    EXPECT_EQ(resolved.ends, Model::Resolution::Ends::builtin) << c.type_name;
    EXPECT_EQ(resolved.whole, c.whole) << c.type_name;
    EXPECT_EQ(resolved.components, c.components) << c.type_name;
  }
  EXPECT_EQ(model.resolve("list< list<counted> >").element, "list<counted>");
}

TEST_F(ModelTest, DeriveBringsOnlyTheAliasesItsSchemasName) {
  write("base.vyr", "@type used = i32\n@type unused = f64\n@schema S { a: used }\nb = 2\n");
  write("d.vyr", "@derive base.vyr::S\nb = 3\n");
  const Model model = load("d.vyr");
  ASSERT_NE(model.schema("S"), nullptr);
  EXPECT_EQ(model.describe(*model.schema("S")->derived_at), "d.vyr:1");
  ASSERT_NE(model.alias("used"), nullptr);
  EXPECT_EQ(model.alias("unused"), nullptr);
  const auto resolved = model.resolve("used");
  EXPECT_EQ(resolved.aliases.size(), 1U);
  EXPECT_EQ(resolved.name, "i32");
  EXPECT_EQ(model.winner(*model.key("b")).value, "3");
}

TEST_F(ModelTest, LaterMergesGoOnFromWhatTheModelHolds) {
  write("base.vyr", "b = 1\nc = 1\n");
  Model model;
  Options options;
  options.model = &model;
  auto document = VYRL::parse("a = 1\nb = 2\n", options);
  ASSERT_TRUE(document);
  ASSERT_TRUE(document->merge_content("a = 3\n@derive base.vyr\n"));
  ASSERT_EQ(model.keys().size(), 3U);
  EXPECT_EQ(model.winner(*model.key("a")).value, "3");
  EXPECT_EQ(model.replaced(*model.key("a")).size(), 1U);
  EXPECT_EQ(model.winner(*model.key("b")).value, "2");
  EXPECT_FALSE(model.key("b")->derived_at);
  ASSERT_TRUE(model.key("c")->derived_at);
  EXPECT_EQ(model.describe(*model.key("c")->derived_at), "<text>:2");
  for (const auto& [key, value] : document->entries()) EXPECT_EQ(model.winner(*model.key(key)).value, value);
}

TEST_F(ModelTest, ErrorsInImportedFilesCarryTheirWholeRoute) {
  write("inner.vyr", "x\ny = 1\nz\n");
  write("outer.vyr", "@import inner.vyr\nw\n@import missing.vyr\n");
  const Model model = load("outer.vyr");
  ASSERT_EQ(model.errors().size(), 4U);
  EXPECT_EQ(model.errors()[1].frames().size(), 2U);
  EXPECT_EQ(model.errors()[1].frames()[0].line, 1U);
  EXPECT_EQ(model.errors()[1].frames()[1].line, 3U);
  EXPECT_EQ(model.errors()[3].frames()[0].line, 3U);
  EXPECT_NE(model.key("y"), nullptr);
}

}  // namespace
}  // namespace vyrl
