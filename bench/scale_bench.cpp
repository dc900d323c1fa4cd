// How merge throughput holds up as a document grows from thirty keys, the size
// of a hand-written configuration, to a million: the curve that shows where the
// loader stops being linear.
//
//   build/bench-cpp/bench/scale_bench --benchmark_min_time=0.5
//
// Every key is distinct, `sectionS.keyK` with K = N mod 100 and S = N div 100,
// the same pairs bench/compare.py gives the Python readers. The untyped family
// stores `value-N`; the typed family first declares one schema per section,
// whose fields are those keys with the types i32, f64, physics::meter, color and
// list<i32> in turn, so that every assignment is checked as it is stored. Both
// report MB/s of input text over CPU time (bytes_per_second) and keys per
// second (items_per_second); the declarations count as text, not as keys.
// bench/compare.py writes the same texts, so its typed MB/s is the same
// measure taken through the Python module.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "bench_support.hpp"
#include "vyrl/document.hpp"

namespace {

constexpr std::int64_t kKeysPerSection = 100;
constexpr std::array<std::string_view, 5> kFieldTypes = {"i32", "f64", "physics::meter", "color", "list<i32>"};

void append_key(std::string& out, std::int64_t n) {
  out += "section";
  out += std::to_string(n / kKeysPerSection);
  out += ".key";
  out += std::to_string(n % kKeysPerSection);
}

// A value that the type of key n accepts, different for every n so that no
// check can be answered from a previous one.
void append_typed_value(std::string& out, std::int64_t n) {
  const std::string number = std::to_string(n);
  switch (n % std::int64_t(kFieldTypes.size())) {
    case 0: out += number; break;
    case 1: out += number + ".25"; break;
    case 2: out += "0." + number; break;
    case 3: {
      char colour[8];
      std::snprintf(colour, sizeof colour, "#%06X", unsigned(n * 2654435761U) & 0xFFFFFFU);
      out += colour;
      break;
    }
    default: out += "[" + number + ", " + std::to_string(n + 1) + ", -" + std::to_string(n + 2) + "]"; break;
  }
}

std::string make_text(std::int64_t keys, bool typed) {
  std::string out;
  out.reserve(std::size_t(keys) * (typed ? 60 : 30));
  if (typed) {
    // One block per section, one field per line, as a hand-written schema is.
    for (std::int64_t first = 0; first < keys; first += kKeysPerSection) {
      out += "@schema Section";
      out += std::to_string(first / kKeysPerSection);
      out += " {\n";
      for (std::int64_t n = first; n < std::min(keys, first + kKeysPerSection); ++n) {
        out += "  ";
        append_key(out, n);
        out += ": ";
        out += kFieldTypes[std::size_t(n % std::int64_t(kFieldTypes.size()))];
        out += '\n';
      }
      out += "}\n";
    }
  }
  for (std::int64_t n = 0; n < keys; ++n) {
    append_key(out, n);
    out += " = ";
    if (typed) {
      append_typed_value(out, n);
    } else {
      out += "value-";
      out += std::to_string(n);
    }
    out += '\n';
  }
  return out;
}

// Built once per size and kind; generating a million lines is not what is measured.
const std::string& text_for(std::int64_t keys, bool typed) {
  static std::map<std::pair<std::int64_t, bool>, std::string> texts;
  auto [entry, inserted] = texts.try_emplace({keys, typed});
  if (inserted) entry->second = make_text(keys, typed);
  return entry->second;
}

void merge(benchmark::State& state, bool typed) {
  const std::int64_t keys = state.range(0);
  const std::int64_t merges = vyrl::bench::merge_fresh_documents(state, text_for(keys, typed));
  state.SetItemsProcessed(merges * keys);
}

void BM_ScaleUntyped(benchmark::State& state) { merge(state, false); }
void BM_ScaleTyped(benchmark::State& state) { merge(state, true); }

// 30 keys first: a configuration as people write it, where the fixed cost of a
// fresh document shows; then every power of ten to a million.
BENCHMARK(BM_ScaleUntyped)->Arg(30)->RangeMultiplier(10)->Range(1'000, 1'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScaleTyped)->Arg(30)->RangeMultiplier(10)->Range(1'000, 1'000'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
