// The structural scan on its own: each kernel cutting a large text into
// physical lines, the line count that sizes a document, and the logical
// lines the loader takes, against a plain memchr over the same bytes, which
// is what memory allows.
//
//   build/bench/scan_bench --benchmark_min_time=1
//
// Figures are MB/s of text (bytes_per_second).

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "lines/lines.hpp"
#include "lines/scan.hpp"

namespace {

// The pairs every other benchmark reads, with a comment and a quoted value
// now and then so that some lines take the careful road.
const std::string& text() {
  static const std::string text = [] {
    std::string out;
    for (int n = 0; n < 1'000'000; ++n) {
      out += "section" + std::to_string(n / 100) + ".key" + std::to_string(n % 100) + " = ";
      out += n % 16 == 0 ? "\"value " + std::to_string(n) + "\"  # quoted" : "value-" + std::to_string(n);
      out += '\n';
    }
    return out;
  }();
  return text;
}

template <class Kernel>
void BM_ScanLines(benchmark::State& state) {
  for (auto _ : state) {
    vyrl::BasicLineScanner<Kernel> scanner(text());
    std::size_t plain = 0;
    while (!scanner.done()) plain += scanner.next().plain;
    benchmark::DoNotOptimize(plain);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text().size()));
}
BENCHMARK(BM_ScanLines<vyrl::scan_detail::Portable>)->Unit(benchmark::kMillisecond);
#ifdef VYRL_SCAN_SSE2
BENCHMARK(BM_ScanLines<vyrl::scan_detail::Sse2>)->Unit(benchmark::kMillisecond);
#endif

void BM_CountLines(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vyrl::count_lines(text()));
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text().size()));
}
BENCHMARK(BM_CountLines)->Unit(benchmark::kMillisecond);

void BM_LogicalLines(benchmark::State& state) {
  for (auto _ : state) {
    vyrl::LogicalLines lines(text());
    std::size_t count = 0;
    while (lines.next() != nullptr) ++count;
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text().size()));
}
BENCHMARK(BM_LogicalLines)->Unit(benchmark::kMillisecond);

void BM_Memchr(benchmark::State& state) {
  for (auto _ : state) {
    const char* p = text().data();
    const char* end = p + text().size();
    std::size_t count = 0;
    while (const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
      p = static_cast<const char*>(hit) + 1;
      ++count;
    }
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text().size()));
}
BENCHMARK(BM_Memchr)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
