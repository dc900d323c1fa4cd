#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>
#include <vector>

#include "document/internals.hpp"
#include "test_support.hpp"
#include "types/validation.hpp"
#include "types/depth_guard.hpp"
#include "vyrl/document.hpp"

namespace vyrl {
namespace {

using testing::error_message;

constexpr std::string_view kDeclarations =
    "@type port = i32\n"
    "@type Shadow = string\n"
    "@schema Shadow { x: i32 }\n"
    "@schema color { r: i32 }\n"
    "@schema Endpoint { port: port, weight*: f64 }\n"
    "@schema Server { endpoint: Endpoint }\n"
    "@schema Loose { note*: string }\n"
    "@schema Node { child*: Node }\n";

VYRL declared() {
  VYRL document;
  EXPECT_TRUE(document.merge_content(kDeclarations));
  return document;
}

struct Case {
  std::string type, value, error;  // error is "" when the value is accepted
};

TEST(ValidationTest, TypedFieldsWrapEveryLevel) {
  const std::string f = "Schema 'S' validation error: field 'f' (type '";
  const std::string endpoint = f + "Endpoint') \u2014 ";
  const std::vector<Case> cases = {
      {"port", "x", f + "port') \u2014 Invalid value: Expected i32, got 'x'"},
      {"Shadow", "not an object", ""},  // the alias hides the schema
      {"color", "#FF0000", f + "color') \u2014 Invalid value: Field typed as schema 'color' must be an inline "
                               "object '{ k = v, ... }', got: '#FF0000'"},  // the schema hides the built-in
      {"color", "{ r = 1 }", ""},
      {"Endpoint", " { port = 1, extra = [x } ", ""},
      {"Endpoint", "{ port = x, port = 2 }", ""},
      {"Endpoint", "{ port = 2, port = x }",
       endpoint + "Schema 'Endpoint' validation error: field 'port' (type 'port') \u2014 Invalid value: Expected i32, "
                  "got 'x'"},
      {"Endpoint", "{ port = 1, weight = heavy }",
       endpoint + "Schema 'Endpoint' validation error: field 'weight' (type 'f64') \u2014 Invalid value: Expected "
                  "f64, got 'heavy'"},
      {"Endpoint", "abc",
       endpoint + "Invalid value: Field typed as schema 'Endpoint' must be an inline object '{ k = v, ... }', got: "
                  "'abc'"},
      {"Endpoint", "{ port }",
       endpoint + "Invalid value: Failed to parse inline object for schema 'Endpoint': Inline object field 'port' "
                  "has no '=' or ':' separator"},
      {"Server", "{ endpoint = { weight = 1 } }",
       f + "Server') \u2014 Schema 'Server' validation error: field 'endpoint' (type 'Endpoint') \u2014 Schema "
           "'Endpoint' validation error: field 'port' (type 'port') \u2014 Missing field 'port' in inline object "
           "for schema 'Endpoint'"},
      {"Loose", "{ }", ""},
      {"intt", "1", f + "intt') \u2014 Unknown type 'intt'"},
  };
  const VYRL document = declared();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type + " " + c.value);
    const Status status = validate_typed_field(detail::store_of(document), c.type, c.value, "S", "f");
    EXPECT_EQ(status ? "" : status.error().message(), c.error);
  }
}

TEST(ValidationTest, ValuesIgnoreSchemas) {
  const std::vector<Case> cases = {
      {"Endpoint", "{ port = 1 }", "Key not found: 'Endpoint'"},
      {"intt", "1", "Key not found: 'intt'"},
      {"port", "x", "Invalid type 'port': Invalid value: Expected i32, got 'x'"},
      {"Shadow", "anything", ""},
      {"color", "#FF0000", ""},
  };
  const VYRL document = declared();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type + " " + c.value);
    const Status status = document.validate_value(c.type, c.value);
    EXPECT_EQ(status ? "" : status.error().message(), c.error);
  }
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// "{ child = { child = ... {} ... } }", with `levels` objects inside the outer one.
std::string nested_nodes(std::size_t levels) {
  return repeat("{ child = ", levels).append("{}").append(repeat(" }", levels));
}

std::string nested_lists(std::size_t levels) { return repeat("list<", levels).append("i32").append(repeat(">", levels)); }
std::string nested_items(std::size_t levels) { return repeat("[", levels).append("1").append(repeat("]", levels)); }

TEST(ValidationTest, DeepSchemaValuesStopAtTheDepthLimitOnce) {
  const VYRL document = declared();
  const std::string too_deep =
      std::string("Schema 'S' validation error: field 'f' (type 'Node') \u2014 ").append(kNestedTooDeeply);
  EXPECT_TRUE(validate_typed_field(detail::store_of(document), "Node", nested_nodes(kMaxValidationDepth - 1), "S", "f"));
  EXPECT_EQ(error_message(validate_typed_field(detail::store_of(document), "Node", nested_nodes(kMaxValidationDepth), "S", "f")),
            too_deep);
  EXPECT_EQ(error_message(validate_typed_field(detail::store_of(document), "Node", nested_nodes(100000), "S", "f")), too_deep);
  // The limit leaves nothing behind: the next failure on this thread is reported level by level.
  EXPECT_EQ(error_message(validate_typed_field(detail::store_of(document), "Node", "{ child = x }", "S", "f")),
            "Schema 'S' validation error: field 'f' (type 'Node') \u2014 Schema 'Node' validation error: field "
            "'child' (type 'Node') \u2014 Invalid value: Field typed as schema 'Node' must be an inline object '{ k "
            "= v, ... }', got: 'x'");
}

TEST(ValidationTest, DeepListValuesStopAtTheDepthLimitOnce) {
  const VYRL document = declared();
  const std::size_t limit = kMaxValidationDepth;
  EXPECT_TRUE(document.validate_value(nested_lists(limit), nested_items(limit)));

  const std::string inner = nested_lists(limit);
  EXPECT_EQ(error_message(document.validate_value(nested_lists(limit + 1), nested_items(limit + 1))),
            std::string("Invalid type '") + nested_lists(limit + 1) + "': Invalid value: List item '" + nested_items(limit) +
                "' failed validation for type '" + inner + "': Schema 'list<" + inner +
                ">' validation error: field 'list_item' (type '" + inner + "') \u2014 " +
                std::string(kNestedTooDeeply));

  // Reported once rather than once per level, the error stays about as large as its input.
  const std::string type = nested_lists(100000);
  const std::string value = nested_items(100000);
  const Status status = document.validate_value(type, value);
  ASSERT_FALSE(status);
  ASSERT_TRUE(status.error().is<VyrlError::InvalidType>());
  const std::string message = status.error().message();
  EXPECT_TRUE(message.ends_with(kNestedTooDeeply));
  EXPECT_LT(message.size(), 4 * (type.size() + value.size()));
}

// A deep list whose every level quotes the item below it: the message must stay
// bounded whatever the depth and the number of items, and still end with the
// reason at the bottom.
TEST(ValidationTest, MessagesOfDeepListsStayBounded) {
  const VYRL document = declared();
  for (const std::size_t levels : {std::size_t{25}, std::size_t{100}, std::size_t{250}}) {
    std::string items;
    for (int i = 0; i < 20000; ++i) items += "1, ";
    const std::string value = repeat("[", levels) + items + "x" + repeat("]", levels);
    const Status status = document.validate_value(nested_lists(levels), value);
    ASSERT_FALSE(status);
    const std::string message = status.error().message();
    SCOPED_TRACE(levels);
    EXPECT_LT(message.size(), std::size_t{64} << 10);
    EXPECT_TRUE(message.ends_with("Invalid value: Expected i32, got 'x'"));
  }
}

// Runs `body` on a thread of its own with a stack of `bytes`; a check that needs
// more ends the whole test binary, which is the failure this guards against.
void on_small_stack(std::size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, bytes), 0);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

// The depth limit only protects the stack if the deepest chain it allows fits in
// an ordinary thread's stack; 512 KB is the smallest default among common
// platforms. Frames of unoptimised or instrumented builds are several times larger.
TEST(ValidationTest, TheDeepestAllowedChainFitsInASmallThreadStack) {
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "stack frames are only representative in optimised builds";
#endif
  const VYRL document = declared();
  const std::size_t limit = kMaxValidationDepth;
  bool nodes = false, lists = false, deeper_nodes = false, deeper_lists = false;
  on_small_stack(512 * 1024, [&] {
    nodes = validate_typed_field(detail::store_of(document), "Node", nested_nodes(limit - 1), "S", "f").has_value();
    lists = document.validate_value(nested_lists(limit), nested_items(limit)).has_value();
    deeper_nodes = validate_typed_field(detail::store_of(document), "Node", nested_nodes(2 * limit), "S", "f").has_value();
    deeper_lists = document.validate_value(nested_lists(2 * limit), nested_items(2 * limit)).has_value();
  });
  EXPECT_TRUE(nodes);
  EXPECT_TRUE(lists);
  EXPECT_FALSE(deeper_nodes);
  EXPECT_FALSE(deeper_lists);
}

}  // namespace
}  // namespace vyrl
