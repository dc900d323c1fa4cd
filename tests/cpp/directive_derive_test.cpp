#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "directive/derive.hpp"
#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/type_definition.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;
using Values = std::map<std::string, std::string>;
using Names = std::set<std::string>;

TEST(DeriveArgumentsTest, SplitsPathAndSelector) {
  struct Case {
    std::string arguments, path;
    std::vector<std::string_view> schemas;
  };
  const std::vector<std::string_view> both = {"Server", "Database"};
  const std::vector<Case> cases = {
      {"base.vyr", "base.vyr", {}},
      {"base.vyr:: ::", "base.vyr", {}},
      {"base.vyr::Server::Database", "base.vyr", both},
      {"base.vyr :: Server ::::Server", "base.vyr", {"Server", "Server"}},
      {"\"base.vyr\" Server::Database", "base.vyr", both},
      {"'base.vyr':Server :: Database", "base.vyr", both},
      {"\" my base.vyr \"", "my base.vyr", {}},
      {"'a::b.vyr'::S", "a::b.vyr", {"S"}},
      {"\"base.vyr", "\"base.vyr", {}},
      {"\"base.vyr::S", "\"base.vyr::S", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const DeriveTarget target = split_derive_arguments(c.arguments);
    EXPECT_EQ(target.path, c.path);
    EXPECT_EQ(target.schemas, c.schemas);
  }
}

class DeriveTest : public testing::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    write("base.vyr",
          "host = alpha\nport = 8080\n"
          "@type portnum = i32\n@type label = string\n@type unused = bool\n"
          "@schema Server { host: string, port: i32, ports*: list<portnum> }\n"
          "@schema Database { url: label }\n");
  }
  std::string merge(std::string_view text) {
    const Status merged = document.merge_content(text);
    return merged ? std::string() : merged.error().message();
  }
  Values values() const { return Values(document.entries().begin(), document.entries().end()); }
  static Names names(const std::vector<std::string_view>& list) { return Names(list.begin(), list.end()); }
  template <class Map>
  static Names names(const Map& map) {
    Names out;
    for (const auto& entry : map) out.insert(entry.first);
    return out;
  }
  std::string definition(const std::string& alias) const {
    return dynamic_cast<const TypeDefinition&>(*detail::store_of(document).types().at(alias)).definition();
  }

  VYRL document;
};

TEST_F(DeriveTest, SelectorsChooseSchemasAndTheAliasesTheyUse) {
  struct Case {
    std::string line;
    Names schemas, aliases;
  };
  const Names all = {"Server", "Database"};
  const std::vector<Case> cases = {
      {"@derive base.vyr", all, {"portnum", "label"}},
      {"@derive base.vyr:: ::", all, {"portnum", "label"}},
      {"@derive base.vyr::Server", {"Server"}, {"portnum"}},
      {"@derive 'base.vyr':Database", {"Database"}, {"label"}},
      {"@derive \"base.vyr\" Server::Database", all, {"portnum", "label"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    document = VYRL();
    EXPECT_EQ(merge(c.line), "");
    EXPECT_EQ(names(detail::store_of(document).schema_names()), c.schemas);
    EXPECT_EQ(names(detail::store_of(document).types()), c.aliases);
    EXPECT_EQ(values(), (Values{{"host", "alpha"}, {"port", "8080"}}));
  }
}

TEST_F(DeriveTest, ImportedSchemasTypeLaterAssignments) {
  EXPECT_EQ(merge("@derive base.vyr::Server\nports = [1, 2]\nport = x"),
            "Schema 'Server' validation error: field 'port' (type 'i32') \u2014 Invalid value: Expected i32, got 'x'");
  EXPECT_EQ(values(), (Values{{"host", "alpha"}, {"port", "8080"}, {"ports", "[1, 2]"}}));
}

TEST_F(DeriveTest, WhatTheDocumentHoldsWins) {
  EXPECT_EQ(merge("@type portnum = string\n@schema Database { url*: string }\nport = 9090\n"
                  "@derive base.vyr\nhost = later"),
            "");
  EXPECT_EQ(values(), (Values{{"host", "later"}, {"port", "9090"}}));
  EXPECT_EQ(definition("portnum"), "string");
  EXPECT_EQ(definition("label"), "string");  // carried although Database itself stayed
  EXPECT_EQ((*detail::store_of(document).schema("Database")).fields.at("url"), "string");
  EXPECT_EQ((*detail::store_of(document).schema("Server")).fields.size(), 3u);

  // Values arrive unchecked, even where a schema here types the key.
  write("loose.vyr", "port = not a number");
  document = VYRL();
  EXPECT_EQ(merge("@schema Server { port*: i32 }\n@derive loose.vyr"), "");
  EXPECT_EQ(values(), (Values{{"port", "not a number"}}));
}

TEST_F(DeriveTest, ChecksTheSchemasDeclaredBeforeTheLine) {
  write("hostless.vyr", "port = 1");
  const std::string server = "@schema Server { host: string, port: i32 }\n";
  struct Case {
    std::string text, error;
  };
  const std::vector<Case> cases = {
      {server + "host = a\n@derive hostless.vyr", ""},
      {server + "@derive hostless.vyr",
       "Schema 'Server' validation error: field 'host' (type 'string') \u2014 Missing required field 'host'"},
      // Schemas that arrive with the base, or are declared after the line, are not checked.
      {"@derive base.vyr::Database", ""},
      {"@derive hostless.vyr\n" + server, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    document = VYRL();
    EXPECT_EQ(merge(c.text), c.error);
  }
}

TEST_F(DeriveTest, FailuresKeepWhatWasTakenBefore) {
  write("broken.vyr", "a = 1\n@schema S { x }");
  struct Case {
    std::string line, error;
    Names schemas;
    Values values;
  };
  const std::string enoent = "IO Error: No such file or directory (os error 2)";
  const std::vector<Case> cases = {
      {"@derive", enoent, {}, {}},
      {"@derive \"base.vyr", enoent, {}, {}},
      {"@derive broken.vyr", "Directive '@schema' error: Bad field: 'x'", {}, {}},
      {"@derive base.vyr::Nope", "Directive '@derive' error: Schema 'Nope' not found", {}, {}},
      {"@derive base.vyr::Database::Server::Server", "Directive '@derive' error: Schema 'Server' not found",
       {"Database", "Server"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    document = VYRL();
    EXPECT_EQ(merge(c.line), c.error);
    EXPECT_EQ(names(detail::store_of(document).schema_names()), c.schemas);
    EXPECT_EQ(values(), c.values);
  }
}

TEST_F(DeriveTest, CyclesAndDeepChainsEndInAnOrderlyError) {
  write("self.vyr", "@derive self.vyr");
  write("a.vyr", "@derive b.vyr");
  write("b.vyr", "@derive ./a.vyr");
  write("mixed.vyr", "@import via.vyr");
  write("via.vyr", "@derive 'mixed.vyr'::S");
  write("nul.vyr", std::string("@derive nul.vyr\0x", 17));
  struct Case {
    std::string line, error;
  };
  const std::vector<Case> cases = {
      {"@derive self.vyr", "Directive '@derive' error: Cycle detected: 'self.vyr' is already being loaded"},
      {"@derive a.vyr", "Directive '@derive' error: Cycle detected: './a.vyr' is already being loaded"},
      {"@derive mixed.vyr", "Directive '@derive' error: Cycle detected: 'mixed.vyr' is already being loaded"},
      {"@import via.vyr", "Parse Error at line 0: 'via.vyr'. Reason: Cycle detected: 'via.vyr' is already being "
                          "loaded"},
      // Cut at its NUL the path would name the file being loaded; it is refused as invalid instead.
      {"@derive nul.vyr", "IO Error: Invalid argument (os error 22)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    document = VYRL();
    EXPECT_EQ(merge(c.line), c.error);
  }

  const auto file_name = [](int i) { return std::string("f").append(std::to_string(i)).append(".vyr"); };
  // 70 files, each taking the next one in: first all through @derive, then
  // alternating @derive and @import; either way the 65th file is refused.
  for (const bool alternate : {false, true}) {
    for (int i = 0; i < 70; ++i) {
      std::string text = std::string("k").append(std::to_string(i)).append(" = 1\n");
      if (i + 1 < 70) text.append(alternate && i % 2 ? "@import " : "@derive ").append(file_name(i + 1));
      write(file_name(i), text);
    }
    document = VYRL();
    EXPECT_EQ(merge("@derive f0.vyr"),
              alternate ? "Parse Error at line 0: 'f64.vyr'. Reason: Files nest more than 64 levels deep at 'f64.vyr'"
                        : "Directive '@derive' error: Files nest more than 64 levels deep at 'f64.vyr'");
    EXPECT_TRUE(values().empty());
    EXPECT_EQ(merge("@derive f6.vyr"), "");  // the guard unwound; a chain that fits is read to its end
    EXPECT_EQ(values().size(), 64u);
  }
}

}  // namespace
}  // namespace vyrl
