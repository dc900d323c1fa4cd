// The structural scan on its own: each kernel cutting a large text into
// physical lines, the line count that sizes a document, and the logical
// lines the loader takes, against a plain memchr over the same bytes, which
// is what memory allows.
//
//   build/bench/scan_bench --benchmark_min_time=1
//
// Figures are MB/s of text (bytes_per_second).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "lines/lines.hpp"
#include "lines/scan.hpp"
#include "statement/directive_arguments.hpp"

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

// A hundred-field schema block as the loader hands it over: in place, with
// its line ends (the mask road), and the same body with one non-ASCII name,
// which keeps the byte loop. Per field: items_per_second.
std::string schema_block(bool ascii) {
  std::string out = "Section0 {\n";
  for (int i = 0; i < 100; ++i) out.append("  section0.key").append(std::to_string(i)).append(": i32\n");
  if (!ascii) out += "  caf\xc3\xa9: i32\n";
  return out + "}";
}

void BM_SchemaFields(benchmark::State& state) {
  const std::string text = schema_block(state.range(0) != 0);
  for (auto _ : state) {
    auto parsed = vyrl::parse_schema_arguments(text);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * 100);
}
BENCHMARK(BM_SchemaFields)->Arg(1)->Arg(0);

// Lines the scan sets aside for a colour or a list after the "=", which
// reads_as_plain lets back onto the plain road.
void BM_ReadsAsPlain(benchmark::State& state) {
  const std::string colour = "section12.key43 = #A1B2C3";
  const std::string list = "section12.key44 = [44, 45, -46]";
  for (auto _ : state) {
    benchmark::DoNotOptimize(vyrl::reads_as_plain(colour, colour.find('=')));
    benchmark::DoNotOptimize(vyrl::reads_as_plain(list, list.find('=')));
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * 2);
}
BENCHMARK(BM_ReadsAsPlain);

}  // namespace

BENCHMARK_MAIN();
