#pragma once

// What the merge benchmarks share: timing one merge of a text into a fresh
// document, with freeing it left out.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "vyrl/document.hpp"

namespace vyrl::bench {

inline void merge_fresh_documents(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    auto document = std::make_unique<vyrl::VYRL>();
    if (auto merged = document->merge_content(text); !merged) {
      static std::string message;
      message = merged.error().message();
      state.SkipWithError(message.c_str());
      break;
    }
    // Freeing a million entries is the allocator's work, not the loader's.
    state.PauseTiming();
    document.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
  state.counters["text_MB"] = double(text.size()) / 1e6;
}

}  // namespace vyrl::bench
