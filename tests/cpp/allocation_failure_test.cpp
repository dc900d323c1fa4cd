// Fails the Nth allocation, for every N, across sequences of merges, and checks
// after each failure that the document is what the lines before the failing
// one made it, with every index in agreement. This binary replaces the global
// allocation functions, so it runs apart from the other tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "document/internals.hpp"
#include "store_audit.hpp"
#include "test_support.hpp"
#include "vyrl/document.hpp"

namespace {

// Allocations left before one fails; negative: none fails.
long allocations_left = -1;

void* allocate(std::size_t size) {
  if (allocations_left == 0) throw std::bad_alloc();
  if (allocations_left > 0) --allocations_left;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace vyrl {
namespace {

using Step = std::vector<std::string>;  // the lines of one merge, one statement each

std::string joined(const Step& lines, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += lines[i] + "\n";
  return text;
}

// What a document answers, in an order of its own: every pair, each value's
// reverse lookup, and its schemas and aliases.
std::string contents(const VYRL& document) {
  std::vector<std::string> lines;
  for (const auto [key, value] : document.entries()) {
    const auto holder = document.find_key(value);
    const bool reverse_ok = holder && document.get(holder->text()) == value;
    lines.push_back(std::string(key) + " = " + std::string(value) + (reverse_ok ? "" : "  <lost by find_key>"));
  }
  const Store& store = detail::store_of(document);
  for (const std::string_view name : store.schema_names()) {
    std::string line = "@schema " + std::string(name) + " {";
    std::vector<std::string> fields;
    for (const auto& [field, type] : store.schema(name)->fields) {
      std::string entry(" ");
      entry.append(field).append(": ").append(type);
      fields.push_back(std::move(entry));
    }
    std::sort(fields.begin(), fields.end());
    for (const std::string& field : fields) line += field;
    lines.push_back(line + " }");
  }
  for (const auto& [alias, type] : store.types()) lines.push_back("@type " + alias);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// Runs the steps on a fresh document, with a lookup after each, until the
// steps end or an allocation fails; gives the document and where it stopped.
struct Run {
  VYRL document;
  std::size_t failed_step = SIZE_MAX;
};

Run run(const std::vector<Step>& steps, long fail_after) {
  Run result;
  allocations_left = fail_after;
  try {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      result.failed_step = i;
      EXPECT_TRUE(result.document.merge_content(joined(steps[i], steps[i].size())));
      // Builds the reverse index, and keeps it up to date from then on.
      (void)result.document.find_key("v0");
    }
    result.failed_step = SIZE_MAX;
  } catch (const std::bad_alloc&) {
  }
  allocations_left = -1;
  return result;
}

// Every state the document may be left in when step `failed` fails: the steps
// before it, then any number of its lines.
std::vector<std::string> allowed_states(const std::vector<Step>& steps, std::size_t failed) {
  std::vector<std::string> states;
  for (std::size_t count = 0; count <= steps[failed].size(); ++count) {
    VYRL document;
    for (std::size_t i = 0; i < failed; ++i) EXPECT_TRUE(document.merge_content(joined(steps[i], steps[i].size())));
    EXPECT_TRUE(document.merge_content(joined(steps[failed], count)));
    states.push_back(contents(document));
  }
  return states;
}

void fail_every_allocation(const std::vector<Step>& steps) {
  const std::string complete = contents(run(steps, -1).document);
  for (long n = 0;; ++n) {
    Run result = run(steps, n);
    if (result.failed_step == SIZE_MAX) {
      EXPECT_EQ(contents(result.document), complete);
      return;
    }
    SCOPED_TRACE("allocation " + std::to_string(n) + " failed in step " + std::to_string(result.failed_step));
    EXPECT_EQ(StoreAudit::check(detail::store_of(result.document)), "");
    const std::vector<std::string> states = allowed_states(steps, result.failed_step);
    const std::string found = contents(result.document);
    EXPECT_NE(std::find(states.begin(), states.end(), found), states.end()) << found;
    // The document goes on working after the failure.
    ASSERT_TRUE(result.document.merge_content("after = failure"));
    EXPECT_EQ(StoreAudit::check(detail::store_of(result.document)), "");
  }
}

Step numbered(const std::string& key, const std::string& value, int count) {
  Step lines;
  for (int i = 0; i < count; ++i) lines.push_back(key + std::to_string(i) + " = " + value + std::to_string(i));
  return lines;
}

class AllocationFailureTest : public testing::ScratchDir {};

TEST_F(AllocationFailureTest, ReplacementsLongerAndShorterKeepTheReverseIndex) {
  fail_every_allocation({numbered("k", "v", 40), numbered("k", "a much longer value ", 40), numbered("k", "s", 40),
                         {"k5 = v5", "k6 = v5", "k7 = v7", "k5 = v0"}});
}

TEST_F(AllocationFailureTest, CompactionLeavesEveryValueReadable) {
  const std::string big(400'000, 'a');
  const std::string long_key(3000, 'k');  // its sizes live in the arena
  fail_every_allocation({{"k1 = " + big, "k2 = " + big, "v0 = small", long_key + " = long"},
                         {"k1 = " + big + big.substr(0, 100'000)},
                         {"k2 = " + big + big.substr(0, 100'000), long_key + " = longer"},
                         {"k1 = " + big + big.substr(0, 200'000), "k3 = after"}});
}

TEST_F(AllocationFailureTest, SchemaReplacementKeepsTheFieldIndex) {
  fail_every_allocation({{"@schema S { a: i32, b*: string }", "@type t = i32", "@schema T { x: t, a: i32 }", "a = 1"},
                         {"@schema S { a: i32, c: bool }", "@schema S { d: f64 }", "x = 5", "d = 2.5"},
                         {"@schema T { }", "@schema U { a: bool, list: list<t> }", "a = true", "list = [1, 2]"}});
}

TEST_F(AllocationFailureTest, DeriveTakesAllOrNothing) {
  write("base.vyr",
        "@type port = i32\n@schema Server { host: string, port: port }\n@schema Extra { e*: bool }\n"
        "host = base.example\nport = 80\nextra = 1\nv0 = zero\n");
  fail_every_allocation({numbered("k", "v", 40),
                         {"port = 8080", "@derive base.vyr", "host = own.example"},
                         {"@schema Server { host: string }", "@derive base.vyr::Extra"}});
}

}  // namespace
}  // namespace vyrl
