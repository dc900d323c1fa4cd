#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/internals.hpp"
#include "directive/derive.hpp"
#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

TEST(CompletenessTest, ReportsTheFirstMissingRequiredField) {
  struct Case {
    std::string text;
    std::vector<std::string> names;
    std::string error;  // "" when complete
  };
  const std::string missing_port =
      "Schema 'Server' validation error: field 'port' (type 'i32') \u2014 Missing required field 'port'";
  const std::string server = "@schema Server { port: i32, timeout*: f64 }\n";
  const std::vector<Case> cases = {
      {server, {"Server"}, missing_port},
      {server + "port = 1", {"Server"}, ""},
      {server + "Server.port = 1\nPort = 1", {"Server"}, missing_port},
      {server, {}, ""},
      {server, {"Nope"}, ""},
      {server + "@schema Empty {}\n@schema Loose { a*: i32 }", {"Nope", "Empty", "Loose"}, ""},
      {server + "@schema Database { port: i32 }\nport = 1", {"Server", "Database"}, ""},
      {server + "@schema Database { url: string }", {"Database", "Server"},
       "Schema 'Database' validation error: field 'url' (type 'string') \u2014 Missing required field 'url'"},
      {server + "@schema Database { url: string }", {"Server", "Database"}, missing_port},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    VYRL document;
    ASSERT_TRUE(document.merge_content(c.text));
    const Status status = validate_schemas_completeness_for(detail::store_of(document), c.names);
    EXPECT_EQ(status ? "" : status.error().message(), c.error);
  }
}

}  // namespace
}  // namespace vyrl
