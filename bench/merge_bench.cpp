// Throughput of merging large texts, of reading them into the syntax layer,
// of key lookups on the result, and of the hash tables and hashers the
// registries could be built on.
//
//   build/bench/merge_bench --benchmark_min_time=2
//
// Merge figures are MB/s of input text (bytes_per_second). The *Loop and
// *Find families replay the assignment path of the loader over one map type
// each, so the tables can be compared within one run on the same input.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bench_support.hpp"
#include "vyrl/document.hpp"
#include "vyrl/syntax.hpp"
#include "support/flat_map.hpp"
#include "lines/lines.hpp"
#include "literal/literal.hpp"
#include "statement/statement.hpp"
#include "support/hash.hpp"
#include "text/text.hpp"

namespace {

constexpr std::size_t kAssignments = 1'000'000;

// --- Generated inputs, built once per process. ---

constexpr std::array<std::string_view, 16> kFieldNames = {
    "host",      "port",      "timeout_ms", "max_connections", "log_level", "retry_count", "buffer_size", "user_name",
    "full_name", "enabled",   "threshold",  "ratio",           "data_path", "accent",      "label",       "mode"};

std::string untyped_key(std::size_t i) {
  return "section_" + std::to_string(i / kFieldNames.size()) + "." + std::string(kFieldNames[i % kFieldNames.size()]);
}

std::string untyped_value(std::size_t i) {
  const std::string n = std::to_string((i * 7919) % 100'000);
  switch (i % 8) {
    case 0: return "some value " + n;
    case 1: return "\"quoted value " + n + "\"";
    case 2: return "'single " + n + "'";
    case 3: return n;
    case 4: return n + ".25";
    case 5: return i % 3 ? "true" : "false";
    case 6: return "[1, 2, " + n + "]";
    default: return "#FF88" + std::to_string(10 + i % 90);
  }
}

// One million distinct keys in sections of 16, with quoted values, trailing
// comments on some lines and a comment plus a blank line every thousand lines.
const std::string& untyped_text() {
  static const std::string text = [] {
    std::string out;
    out.reserve(kAssignments * 40);
    for (std::size_t i = 0; i < kAssignments; ++i) {
      if (i % 1000 == 0) out += "\n# block " + std::to_string(i / 1000) + "\n";
      out += untyped_key(i);
      out += " = ";
      out += untyped_value(i);
      if (i % 64 == 0) out += "  # note";
      out += '\n';
    }
    return out;
  }();
  return text;
}

struct TypedField {
  std::string_view name;
  std::string_view type;
};
constexpr std::array<TypedField, 5> kTypedFields = {{{"torque", "i32"},
                                                     {"gain", "f64"},
                                                     {"length", "physics::meter"},
                                                     {"axis", "math::vector3"},
                                                     {"steps", "list<i32>"}}};
constexpr std::array<std::string_view, 8> kParts = {"joint", "wheel", "arm", "leg", "camera", "lidar", "motor", "gripper"};

std::string typed_value(std::size_t i) {
  const std::string n = std::to_string((i * 7919) % 100'000);
  switch (i % kTypedFields.size()) {
    case 0: return n;
    case 1: return n + ".25";
    case 2: return "0." + n;
    case 3: return "1.5, -2, " + n;
    default: return "[1, 2, 3, " + n + "]";
  }
}

// Assignments to the fields of eight schemas (8 x 5 keys, each reassigned many
// times); with `declare` false the schemas are left out, so the same lines are
// stored unchecked and the difference is the cost of validation.
std::string make_typed_text(bool declare) {
  std::string out;
  out.reserve(kAssignments * 24 + 1024);
  if (declare) {
    for (std::string_view part : kParts) {
      out += "@schema ";
      out += part;
      out += " {\n";
      for (const TypedField& field : kTypedFields) {
        out += "  " + std::string(part) + "_" + std::string(field.name) + ": " + std::string(field.type) + "\n";
      }
      out += "}\n";
    }
  }
  for (std::size_t i = 0; i < kAssignments; ++i) {
    out += kParts[(i / kTypedFields.size()) % kParts.size()];
    out += '_';
    out += kTypedFields[i % kTypedFields.size()].name;
    out += " = ";
    out += typed_value(i);
    out += '\n';
  }
  return out;
}

const std::string& typed_text() {
  static const std::string text = make_typed_text(true);
  return text;
}

const std::string& typed_text_undeclared() {
  static const std::string text = make_typed_text(false);
  return text;
}

// Existing keys in a scattered order, so lookups miss the cache as they would
// in a large document.
const std::vector<std::string>& lookup_keys() {
  static const std::vector<std::string> keys = [] {
    std::mt19937_64 random(42);
    std::uniform_int_distribution<std::size_t> pick(0, kAssignments - 1);
    std::vector<std::string> out;
    out.reserve(1 << 16);
    for (std::size_t i = 0; i < (1 << 16); ++i) out.push_back(untyped_key(pick(random)));
    return out;
  }();
  return keys;
}

// --- The document itself. ---

void merge_document(benchmark::State& state, const std::string& text) { vyrl::bench::merge_fresh_documents(state, text); }
// The same load recording a model, which may cost at most about twice the plain one.
void record_model(benchmark::State& state, const std::string& text) {
  vyrl::bench::merge_fresh_documents(state, text, true);
}

// One directive block of 160k lines: the loader must count each line's braces
// once, or this turns quadratic.
const std::string& long_block_text() {
  static const std::string text = [] {
    std::string out = "@schema Wide {\n";
    for (int i = 0; i < 160000; ++i) out.append("field_").append(std::to_string(i)).append(": i32\n");
    out += "}\n";
    return out;
  }();
  return text;
}

// Twenty thousand schemas of one field each, then one assignment per field:
// typing a key must not cost one probe per schema.
const std::string& many_schemas_text() {
  static const std::string text = [] {
    std::string out;
    for (int i = 0; i < 20000; ++i) out.append("@schema S").append(std::to_string(i)).append(" { f").append(std::to_string(i)).append(": i32 }\n");
    for (int i = 0; i < 20000; ++i) out.append("f").append(std::to_string(i)).append(" = ").append(std::to_string(i)).append("\n");
    return out;
  }();
  return text;
}

// A session of small merges: 20,000 one-line texts of about 49 bytes into a
// document of 100,000 keys. Each merge pre-sizes the table from its text; if
// that reservation were exact, every merge past the spare room would copy the
// whole table, and this would cost far more than parsing the same lines once
// (BM_ParseSmallMergeLines).
constexpr int kBaseKeys = 100'000;
constexpr int kSmallMerges = 20'000;

std::string small_merge_line(int i) {
  std::string line = "merged_key_number_";
  line.append(std::to_string(i)).append(" = a value of some length ").append(std::to_string(i)).append("\n");
  return line;
}

void BM_ManySmallMerges(benchmark::State& state) {
  std::string base;
  for (int i = 0; i < kBaseKeys; ++i) base.append("base_").append(std::to_string(i)).append(" = 1\n");
  std::vector<std::string> lines;
  for (int i = 0; i < kSmallMerges; ++i) lines.push_back(small_merge_line(i));
  for (auto _ : state) {
    state.PauseTiming();
    auto document = std::make_unique<vyrl::VYRL>();
    (void)document->merge_content(base);
    state.ResumeTiming();
    for (const std::string& line : lines) (void)document->merge_content(line);
    state.PauseTiming();
    document.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kSmallMerges);
}

void BM_ParseSmallMergeLines(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < kSmallMerges; ++i) text += small_merge_line(i);
  merge_document(state, text);
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kSmallMerges);
}

void BM_MergeUntyped(benchmark::State& state) { merge_document(state, untyped_text()); }
void BM_MergeManySchemas(benchmark::State& state) { merge_document(state, many_schemas_text()); }
void BM_MergeLongBlock(benchmark::State& state) { merge_document(state, long_block_text()); }
void BM_MergeTyped(benchmark::State& state) { merge_document(state, typed_text()); }
void BM_MergeTypedUndeclared(benchmark::State& state) { merge_document(state, typed_text_undeclared()); }
void BM_ModelUntyped(benchmark::State& state) { record_model(state, untyped_text()); }
void BM_ModelTyped(benchmark::State& state) { record_model(state, typed_text()); }

void BM_FindObj(benchmark::State& state) {
  static const std::unique_ptr<vyrl::VYRL> document = [] {
    auto loaded = std::make_unique<vyrl::VYRL>();
    if (!loaded->merge_content(untyped_text())) loaded.reset();
    return loaded;
  }();
  if (!document) {
    state.SkipWithError("the untyped text did not merge");
    return;
  }
  // The argument is how many distinct keys are asked for in turn: a few stay
  // in cache, many pay for the memory misses of a large document.
  const std::vector<std::string>& keys = lookup_keys();
  const std::size_t mask = std::size_t(state.range(0)) - 1;
  std::size_t i = 0;
  for (auto _ : state) {
    auto found = document->find_obj(keys[i++ & mask]);
    benchmark::DoNotOptimize(found);
  }
}

// Reading the untyped text into the syntax layer, which tools that rewrite
// files (and a language server on every keystroke) pay for: it must keep up
// with loading the same text (BM_MergeUntyped), though it keeps every byte.
void read_syntax_trees(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    auto tree = std::make_unique<vyrl::SyntaxTree>(vyrl::read_syntax(text));
    benchmark::DoNotOptimize(tree->statements().data());
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
  state.counters["text_MB"] = double(text.size()) / 1e6;
}

void BM_ReadSyntaxUntyped(benchmark::State& state) { read_syntax_trees(state, untyped_text()); }

void BM_ReadSyntaxLongBlock(benchmark::State& state) { read_syntax_trees(state, long_block_text()); }

BENCHMARK(BM_MergeUntyped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSyntaxUntyped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSyntaxLongBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeTyped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeTypedUndeclared)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModelUntyped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModelTyped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeLongBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeManySchemas)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManySmallMerges)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseSmallMergeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindObj)->Arg(16)->Arg(1 << 16);

// --- Candidate tables and hashers. ---

// A keyed hash much cheaper than SipHash: 64x64->128 multiplies folded back to
// 64 bits, over 8-byte words. Seeded per map like the real one; here only to
// price SipHash, not for use against hostile input.
class FoldedMultiplyHash {
 public:
  using is_transparent = void;

  FoldedMultiplyHash() {
    static std::mt19937_64 random(std::random_device{}());
    k0_ = random() | 1;
    k1_ = random() | 1;
  }

  std::size_t operator()(std::string_view text) const noexcept {
    std::uint64_t h = k0_ ^ (text.size() * 0x9E3779B97F4A7C15ULL);
    const char* p = text.data();
    std::size_t left = text.size();
    for (; left >= 8; left -= 8, p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      h = fold(h ^ word, k1_);
    }
    if (left > 0) {
      std::uint64_t word = 0;
      std::memcpy(&word, p, left);
      h = fold(h ^ word, k1_);
    }
    return fold(h, k0_ ^ 0xA0761D6478BD642FULL);
  }

 private:
  static std::uint64_t fold(std::uint64_t a, std::uint64_t b) noexcept {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return std::uint64_t(product) ^ std::uint64_t(product >> 64);
  }

  std::uint64_t k0_;
  std::uint64_t k1_;
};

template <class Hash>
using NodeMap = std::unordered_map<std::string, std::string, Hash, std::equal_to<>>;
template <class Hash>
using DenseMap = vyrl::FlatMap<std::string, std::string, Hash>;

// The loader's assignment path (cut, strip, trim, split, store) over one map.
template <class Map>
void load_into(Map& map, std::string_view text) {
  map.reserve(map.size() + text.size() / 40);
  const char* cursor = text.data();
  const char* const end = cursor + text.size();
  while (cursor < end) {
    const void* newline = std::memchr(cursor, '\n', std::size_t(end - cursor));
    const char* line_end = newline ? static_cast<const char*>(newline) : end;
    const std::string_view line(cursor, std::size_t(line_end - cursor));
    cursor = newline ? line_end + 1 : end;
    const std::string_view stripped = vyrl::trim(vyrl::strip_comment(line));
    if (stripped.empty()) continue;
    const auto assignment = vyrl::parse_assignment(stripped);
    if (!assignment) continue;
    if (auto existing = map.find(assignment->key); existing != map.end()) {
      existing->second.assign(assignment->value);
    } else {
      map.emplace(std::string(assignment->key), std::string(assignment->value));
    }
  }
}

template <class Map>
void BM_Load(benchmark::State& state) {
  const std::string& text = untyped_text();
  for (auto _ : state) {
    auto map = std::make_unique<Map>();
    load_into(*map, text);
    benchmark::DoNotOptimize(map->size());
    state.PauseTiming();
    map.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}

template <class Map>
void BM_Find(benchmark::State& state) {
  static const std::unique_ptr<Map> map = [] {
    auto loaded = std::make_unique<Map>();
    load_into(*loaded, untyped_text());
    return loaded;
  }();
  const std::vector<std::string>& keys = lookup_keys();
  const std::size_t mask = std::size_t(state.range(0)) - 1;
  std::size_t i = 0;
  for (auto _ : state) {
    auto found = map->find(std::string_view(keys[i++ & mask]));
    benchmark::DoNotOptimize(found);
  }
}

// The same pass without storing anything: the floor under every table.
void BM_LoadWithoutStoring(benchmark::State& state) {
  const std::string& text = untyped_text();
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (std::string_view rest = text; !rest.empty();) {
      const std::size_t newline = rest.find('\n');
      const std::string_view line = rest.substr(0, newline);
      rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
      const std::string_view stripped = vyrl::trim(vyrl::strip_comment(line));
      if (stripped.empty()) continue;
      if (const auto assignment = vyrl::parse_assignment(stripped)) bytes += assignment->value.size();
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}

// Hashing alone, over a few keys that stay in cache.
template <class Hash>
void BM_Hash(benchmark::State& state) {
  const std::vector<std::string>& keys = lookup_keys();
  const Hash hash;
  std::size_t i = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string& key = keys[i++ & 15];
    benchmark::DoNotOptimize(hash(key));
    bytes += key.size();
  }
  state.SetBytesProcessed(std::int64_t(bytes));
}

BENCHMARK(BM_LoadWithoutStoring)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load<NodeMap<vyrl::SeededHash>>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load<DenseMap<vyrl::SeededHash>>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load<NodeMap<FoldedMultiplyHash>>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load<DenseMap<FoldedMultiplyHash>>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Find<NodeMap<vyrl::SeededHash>>)->Arg(16)->Arg(1 << 16);
BENCHMARK(BM_Find<DenseMap<vyrl::SeededHash>>)->Arg(16)->Arg(1 << 16);
BENCHMARK(BM_Find<NodeMap<FoldedMultiplyHash>>)->Arg(16)->Arg(1 << 16);
BENCHMARK(BM_Find<DenseMap<FoldedMultiplyHash>>)->Arg(16)->Arg(1 << 16);
BENCHMARK(BM_Hash<vyrl::SeededHash>);
BENCHMARK(BM_Hash<FoldedMultiplyHash>);

}  // namespace

BENCHMARK_MAIN();
