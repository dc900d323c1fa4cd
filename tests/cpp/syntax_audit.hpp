#pragma once

#include <cstddef>
#include <string>

#include "vyrl/syntax.hpp"

namespace vyrl {

// What the tests and the syntax fuzzer hold a syntax tree to, from outside it.
struct SyntaxAudit {
  // Every physical line of every statement, content then line end, in order.
  // A tree that keeps every byte in its place gives back the text it read.
  static std::string rebuild(const SyntaxTree& tree) {
    std::string out;
    out.reserve(tree.text().size());
    for (const SyntaxLine& statement : tree.statements()) {
      for (std::size_t i = statement.first_line; i < statement.first_line + statement.line_count; ++i) {
        const SourceLine line = tree.line(i);
        out += line.content.text;
        out += line.ending.text;
      }
    }
    return out;
  }
};

}  // namespace vyrl
