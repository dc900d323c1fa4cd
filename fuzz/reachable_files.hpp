#pragma once

#include <fstream>
#include <string_view>
#include <utility>

namespace vyrl::fuzz {

// The only files a merged text can reach, all inside the scratch directory:
// a base to import or derive from, files that lead back to themselves, one
// that is not UTF-8, and a chain of imports.
inline constexpr std::pair<const char*, std::string_view> kFiles[] = {
    {"base.vyr",
     "@type port = i32\n"
     "@schema Endpoint { host: string, port: port, tls*: bool }\n"
     "@schema Grid { rows: list<list<f64>>, at*: math::vector2 }\n"
     "host = base.local\nport = 7\nrows = [[1, 2], [3]]\nnote = { a = 1 }\n"},
    {"self.vyr", "x = 1\n@import self.vyr\n"},
    {"back.vyr", "@derive base.vyr::Grid\n@derive back.vyr\n"},
    {"latin1.vyr", "name = caf\xE9\n"},
    {"chain.vyr", "@import base.vyr\nport = 8\n"},
};

inline void write_reachable_files() {
  for (const auto& [name, content] : kFiles) {
    std::ofstream out(name, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) __builtin_trap();
  }
}

}  // namespace vyrl::fuzz
