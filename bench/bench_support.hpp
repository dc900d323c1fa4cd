#pragma once

// What the merge benchmarks share: timing one merge of a text into a fresh
// document, with freeing it left out.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vyrl/document.hpp"
#include "vyrl/model.hpp"

namespace vyrl::bench {

// Stopping and restarting the clock costs about 0.7 µs of CPU time (reading the
// process's CPU clock is a system call), an eighth of merging 30 short lines. A
// text shorter than this is merged into several fresh documents between two
// pauses, so that a 30-line figure is the loader's and not the clock's.
inline constexpr std::size_t kBytesBetweenPauses = 64 * 1024;

// Returns how many merges were timed, for a caller that counts keys per second.
// With `record_model`, each load also records a model of the document (what
// `vyrl check`, `set` and the language server ask for), freed with it.
inline std::int64_t merge_fresh_documents(benchmark::State& state, const std::string& text, bool record_model = false) {
  const std::size_t batch = std::max<std::size_t>(1, kBytesBetweenPauses / std::max<std::size_t>(1, text.size()));
  std::vector<std::unique_ptr<vyrl::VYRL>> documents(batch);
  std::vector<vyrl::Model> models(record_model ? batch : 0);
  bool failed = false;
  for (auto _ : state) {
    for (std::size_t i = 0; i < batch; ++i) {
      auto& document = documents[i];
      vyrl::Options options;
      if (record_model) options.model = &models[i];
      document = std::make_unique<vyrl::VYRL>(options);
      if (auto merged = document->merge_content(text); !merged) {
        static std::string message;
        message = merged.error().message();
        state.SkipWithError(message.c_str());
        failed = true;
        break;
      }
    }
    if (failed) break;
    // Freeing a million entries is the allocator's work, not the loader's.
    state.PauseTiming();
    for (auto& document : documents) document.reset();
    for (auto& model : models) model.clear();
    state.ResumeTiming();
  }
  const std::int64_t merges = std::int64_t(state.iterations()) * std::int64_t(batch);
  state.SetBytesProcessed(merges * std::int64_t(text.size()));
  state.counters["text_MB"] = double(text.size()) / 1e6;
  // The Time column is per iteration, which is this many merges.
  state.counters["merges_per_iteration"] = double(batch);
  return merges;
}

}  // namespace vyrl::bench
