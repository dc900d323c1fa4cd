#include "lines/lines.hpp"

#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__) && !defined(VYRL_PORTABLE_SCAN)
#include <emmintrin.h>
#endif

#include "text/text.hpp"

namespace vyrl {
namespace {

// The comment rule's notion of whitespace is deliberately ASCII-only and excludes
// vertical tab, so that exotic spacing never hides the rest of a value.
constexpr bool is_comment_space(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Position of the first byte of `text` equal to `c`, or `limit` when there is
// none before it.
std::size_t find_before(std::string_view text, char c, std::size_t limit) noexcept {
  if (limit == 0) return 0;
  const void* hit = std::memchr(text.data(), c, limit);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : limit;
}

// Where the comment scan can start: before the first quote or "#" nothing can
// open a quote or a comment, and most lines hold neither. Short lines, the
// usual ones, are scanned once here rather than three times by memchr.
std::size_t first_quote_or_hash(std::string_view line) noexcept {
  constexpr std::size_t kShortLine = 96;
  if (line.size() <= kShortLine) {
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '#' || c == '"' || c == '\'') return i;
    }
    return line.size();
  }
  std::size_t first = line.size();
  for (const char special : {'#', '"', '\''}) first = find_before(line, special, first);
  return first;
}

}  // namespace

std::string_view strip_comment(std::string_view line) noexcept {
  char quote = 0;
  const std::size_t size = line.size();
  for (std::size_t p = first_quote_or_hash(line); p < size; ++p) {
    const char c = line[p];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#' && (p == 0 || is_comment_space(line[p - 1])) &&
               (p + 1 == size || is_comment_space(line[p + 1]))) {
      return line.substr(0, p);
    }
  }
  return line;
}

// Counted by jumping from brace to brace: a directive line holds a few of
// them among many other bytes, and a byte-by-byte count cost more than the
// rest of reading the line.
static std::size_t count_of(std::string_view text, char brace) noexcept {
  std::size_t count = 0;
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at != end) {
    const void* hit = std::memchr(at, brace, static_cast<std::size_t>(end - at));
    if (hit == nullptr) break;
    ++count;
    at = static_cast<const char*>(hit) + 1;
  }
  return count;
}

void BraceCount::add(std::string_view text) noexcept {
  open += count_of(text, '{');
  close += count_of(text, '}');
}

// The bytes reads_as_plain passes without a closer look.
constexpr std::array<bool, 256> kPlainBytes = [] {
  std::array<bool, 256> plain{};
  for (std::size_t c = 0x20; c < 0x80; ++c) plain[c] = true;
  plain['\t'] = true;
  for (const char c : {'#', '[', ']', '{', '}', '"', '\''}) plain[static_cast<unsigned char>(c)] = false;
  return plain;
}();

// From `p` on, where the next byte kPlainBytes does not pass may stand: 16
// bytes at a time past the ordinary ones, which a colour or a list line is
// nearly all of. Never past such a byte; at the end, `size`.
static std::size_t skip_plain_bytes(std::string_view content, std::size_t p) noexcept {
#if defined(__SSE2__) && !defined(VYRL_PORTABLE_SCAN)
  const std::size_t size = content.size();
  while (p + 16 <= size) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(content.data() + p));
    const auto same = [&](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    // Signed, a byte below 0x20 or at 0x80 and above compares less than 0x20.
    const __m128i unusual = _mm_andnot_si128(same('\t'), _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
    // '"' 0x22 and '#' 0x23, '[' 0x5B and '{' 0x7B, ']' 0x5D and '}' 0x7D differ in one bit.
    const auto either = [&](char c, char bit) {
      return _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(bit)), _mm_set1_epi8(c));
    };
    const __m128i marks = _mm_or_si128(_mm_or_si128(either('#', 0x01), same('\'')),
                                       _mm_or_si128(either('{', 0x20), either('}', 0x20)));
    const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(unusual, marks)));
    if (hits != 0) return p + static_cast<std::size_t>(std::countr_zero(hits));
    p += 16;
  }
#endif
  return p;
}

bool reads_as_plain(std::string_view content, std::size_t equals) noexcept {
  const std::size_t size = content.size();
  const std::string_view code = trim_plain_front(content);
  if (!code.empty() && code.front() == '@') return false;
  for (std::size_t p = skip_plain_bytes(content, 0); p < size; ++p) {
    const auto c = static_cast<unsigned char>(content[p]);
    if (kPlainBytes[c]) continue;
    switch (c) {
      case '#': {
        const bool after_blank = p == 0 || content[p - 1] == ' ' || content[p - 1] == '\t';
        const bool before_blank = p + 1 == size || content[p + 1] == ' ' || content[p + 1] == '\t';
        if (after_blank && before_blank) return false;
        break;
      }
      case '[':
      case ']':
      case '{':
      case '}':
        // Before the "=", a bracket moves the separator past it.
        if (p < equals) return false;
        break;
      case '"':
      case '\'':
        return false;
      default:
        if ((c < 0x20 && c != '\t') || c >= 0x80) return false;
    }
  }
  return true;
}

constexpr std::array<bool, 256> kQuietBytes = [] {
  std::array<bool, 256> quiet{};
  for (std::size_t c = 0x20; c < 0x7F; ++c) quiet[c] = true;
  quiet['\t'] = true;
  for (const char c : {'#', '"', '\''}) quiet[static_cast<unsigned char>(c)] = false;
  return quiet;
}();

bool is_quiet_block_line(std::string_view content) noexcept {
  bool quiet = true;
  for (const char c : content) quiet &= kQuietBytes[static_cast<unsigned char>(c)];
  return quiet;
}

bool needs_accumulation(std::string_view line) noexcept {
  if (line.empty() || line.front() != '@') return false;
  BraceCount count;
  count.add(line);
  return count.open > count.close;
}

bool block_is_complete(std::string_view block) noexcept {
  if (block.empty()) return true;
  BraceCount count;
  count.add(block);
  return count.closed();
}

PhysicalLine cut_physical_line(std::string_view& rest) noexcept {
  const void* newline = std::memchr(rest.data(), '\n', rest.size());
  if (newline == nullptr) {
    const PhysicalLine line{rest, rest.substr(rest.size())};
    rest.remove_prefix(rest.size());
    return line;
  }
  std::size_t length = static_cast<std::size_t>(static_cast<const char*>(newline) - rest.data());
  std::size_t ending = 1;
  if (length > 0 && rest[length - 1] == '\r') {
    --length;
    ++ending;
  }
  const PhysicalLine line{rest.substr(0, length), rest.substr(length, ending)};
  rest.remove_prefix(length + ending);
  return line;
}

const LogicalLine* LogicalLines::block_in_place(const ScannedLine& first, std::string_view opening) {
  const LineScanner from = scanner_;
  const std::size_t opening_number = number_;
  BraceCount braces;
  braces.add(opening);
  while (!scanner_.done()) {
    const ScannedLine scanned = scanner_.next();
    ++number_;
    // A plain line holds no brace, comment mark or quote, and its only white
    // space is spaces and tabs.
    if (scanned.plain) continue;
    if (!is_quiet_block_line(scanned.line.content)) break;
    braces.add(scanned.line.content);
    if (braces.closed()) {
      const std::string_view closing = trim_plain(scanned.line.content);
      const char* const end = closing.data() + closing.size();
      const std::string_view text(opening.data(), static_cast<std::size_t>(end - opening.data()));
      line_ = LogicalLine{text, opening_number, first.offset, scanner_.position(), number_};
      return &line_;
    }
  }
  scanner_ = from;
  number_ = opening_number;
  return nullptr;
}

const LogicalLine* LogicalLines::next_after(const ScannedLine* first, Opens opens) {
  bool pending = false;
  std::size_t block_line = 0;
  std::size_t block_begin = 0;
  BraceCount braces;
  while (first != nullptr || !scanner_.done()) {
    const ScannedLine scanned = first != nullptr ? *first : scanner_.next();
    const std::string_view code = scanned.plain ? scanned.line.content : strip_comment(scanned.line.content);
    if (sink_ != nullptr) sink_->physical_line(scanned.offset, scanned.line, code.size());
    // A plain line's only White_Space is spaces and tabs.
    const std::string_view stripped = scanned.plain ? trim_plain(code) : trim(code);
    // The first line was counted when it was cut.
    if (first == nullptr) ++number_;
    first = nullptr;
    if (!pending) {
      // A plain line holds no brace, so it never opens a block.
      const bool opens_block = opens == Opens::unknown ? !scanned.plain && needs_accumulation(stripped) : opens == Opens::yes;
      opens = Opens::unknown;
      if (opens_block) {
        block_.assign(stripped);
        braces = BraceCount{};
        braces.add(stripped);
        block_line = number_;
        block_begin = scanned.offset;
        pending = true;
        continue;
      }
      if (stripped.empty()) continue;
      line_ = LogicalLine{stripped, number_, scanned.offset, scanner_.position(), number_};
      if (scanned.plain) {
        line_.plain = true;
        line_.equals = equals_in(scanned, stripped);
      }
      return &line_;
    }
    block_ += ' ';
    block_ += stripped;
    if (!scanned.plain) braces.add(stripped);  // a plain line holds no brace
    if (braces.closed()) {
      line_ = LogicalLine{trim(strip_comment(block_)), block_line, block_begin, scanner_.position(), number_};
      return &line_;
    }
  }
  // A block still open at the end of the text is processed as it stands.
  if (pending) {
    line_ = LogicalLine{trim(strip_comment(block_)), block_line, block_begin, scanner_.position(), number_};
    return &line_;
  }
  return nullptr;
}

}  // namespace vyrl
