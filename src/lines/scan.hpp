#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) && !defined(VYRL_PORTABLE_SCAN)
#include <emmintrin.h>
#define VYRL_SCAN_SSE2 1
#endif


namespace vyrl {

// One physical line: its bytes without the line end, and the line end itself
// ("\n", "\r\n", or nothing for a last line that has none). A lone "\r" is
// an ordinary byte of the content.
struct PhysicalLine {
  std::string_view content;
  std::string_view ending;
};

// --- The structural scan ---
//
// Cutting lines byte by byte cost more than everything else the loader does
// with a short line. The scan classifies 64 bytes at a time into three bit
// masks, and a line is then cut and judged from those bits alone: where it
// ends, where its first "=" stands, and whether it holds any byte that needs
// the careful reading (a comment mark, a quote, a bracket or brace, a control
// character, or anything outside ASCII). Lines with none of those, most of
// any real file, skip comment stripping, Unicode trimming and quote handling.

namespace scan_detail {

struct BlockMasks {
  std::uint64_t newline = 0;
  std::uint64_t equals = 0;
  std::uint64_t special = 0;  // bytes a plain line must not hold
  std::uint64_t carriage = 0;  // "\r", special unless a "\n" follows it
};

constexpr std::size_t kBlock = 64;

constexpr bool is_special(unsigned char c) noexcept {
  // Below 0x20 only tab and line feed are ordinary: every other control byte
  // is White_Space or worse, and the fast path trims only spaces and tabs.
  if (c < 0x20) return c != '\t' && c != '\n';
  return c >= 0x80 || c == '#' || c == '"' || c == '\'' || c == '[' || c == ']' || c == '{' || c == '}';
}

// One byte at a time: the reference every faster kernel must agree with,
// and the path on machines without SSE2.
inline BlockMasks portable_block(const char* block) noexcept {
  BlockMasks masks;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const auto c = static_cast<unsigned char>(block[i]);
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (c == '\n') masks.newline |= bit;
    if (c == '=') masks.equals |= bit;
    if (c == '\r') masks.carriage |= bit;
    if (is_special(c)) masks.special |= bit;
  }
  return masks;
}

#ifdef VYRL_SCAN_SSE2
// SSE2 is part of every x86-64, so a wheel built for the baseline runs this
// everywhere it lands.
inline BlockMasks sse2_block(const char* block) noexcept {
  BlockMasks masks;
  for (std::size_t part = 0; part < kBlock; part += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + part));
    const auto same = [&](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    const __m128i newline = same('\n');
    // Signed, a byte below 0x20 or at 0x80 and above compares less than 0x20.
    const __m128i unusual = _mm_andnot_si128(_mm_or_si128(same('\t'), newline),
                                             _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
    // Pairs that differ in one bit share a comparison: '"' 0x22 and '#' 0x23,
    // '[' 0x5B and '{' 0x7B, ']' 0x5D and '}' 0x7D.
    const auto either = [&](char c, char bit) {
      return _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(bit)), _mm_set1_epi8(c));
    };
    const __m128i marks = _mm_or_si128(_mm_or_si128(either('#', 0x01), same('\'')),
                                       _mm_or_si128(either('{', 0x20), either('}', 0x20)));
    const auto bits = [](__m128i m) { return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(m))); };
    masks.newline |= bits(newline) << part;
    masks.equals |= bits(same('=')) << part;
    masks.carriage |= bits(same('\r')) << part;
    masks.special |= bits(_mm_or_si128(unusual, marks)) << part;
  }
  return masks;
}
#endif

struct Portable {
  static BlockMasks block(const char* p) noexcept { return portable_block(p); }
};
#ifdef VYRL_SCAN_SSE2
struct Sse2 {
  static BlockMasks block(const char* p) noexcept { return sse2_block(p); }
};
using Native = Sse2;
#else
using Native = Portable;
#endif

}  // namespace scan_detail

// A physical line with what the scan learned about it.
struct ScannedLine {
  std::size_t offset;  // where its content starts in the text
  PhysicalLine line;
  // Where the first "=" of the content stands, or npos.
  std::size_t equals;
  // No comment mark, quote, bracket, brace, control byte or non-ASCII byte:
  // the line is its own code, and trimming it means spaces and tabs.
  bool plain;
};

// Cuts a text into physical lines exactly as cut_physical_line does, from
// the masks of one 64-byte block at a time; nothing is kept per line, so
// memory does not grow with the text.
template <class Kernel>
class BasicLineScanner {
 public:
  explicit BasicLineScanner(std::string_view text) noexcept : text_(text) { load(0); }

  bool done() const noexcept { return position_ >= text_.size(); }
  // Where the next line starts.
  std::size_t position() const noexcept { return position_; }

  // The next physical line; only while !done().
  ScannedLine next() noexcept {
    const std::size_t begin = position_;
    std::uint64_t special = 0;
    std::size_t equals = std::string_view::npos;
    std::size_t end;  // the line feed, or the end of the text
    std::size_t at = begin;
    for (;;) {
      const std::size_t shift = at - base_;
      const std::uint64_t from = ~std::uint64_t{0} << shift;
      const std::uint64_t newline = masks_.newline & from;
      const std::uint64_t upto = newline != 0 ? (std::uint64_t{1} << std::countr_zero(newline)) - 1 : ~std::uint64_t{0};
      const std::uint64_t inside = from & upto;
      special |= masks_.special & inside;
      if (const std::uint64_t eq = masks_.equals & inside; eq != 0 && equals == std::string_view::npos) {
        equals = base_ + static_cast<std::size_t>(std::countr_zero(eq)) - begin;
      }
      if (newline != 0) {
        end = base_ + static_cast<std::size_t>(std::countr_zero(newline));
        position_ = end + 1;
        if (position_ - base_ == scan_detail::kBlock) load(base_ + scan_detail::kBlock);
        break;
      }
      if (base_ + scan_detail::kBlock >= text_.size()) {
        end = text_.size();
        position_ = end;
        break;
      }
      load(base_ + scan_detail::kBlock);
      at = base_;
    }
    std::size_t length = end - begin;
    std::size_t ending = end < text_.size() ? 1 : 0;
    if (ending != 0 && length > 0 && text_[end - 1] == '\r') {
      --length;
      ++ending;
    }
    // Built from pointers: the bounds are known, and substr would check them again.
    const char* content = text_.data() + begin;
    return ScannedLine{begin, PhysicalLine{{content, length}, {content + length, ending}}, equals,
                       special == 0};
  }

 private:
  void load(std::size_t base) noexcept {
    base_ = base;
    if (base + scan_detail::kBlock <= text_.size()) {
      masks_ = Kernel::block(text_.data() + base);
    } else {
      // The last, partial block is read from a padded copy, and the bits of
      // its padding cleared.
      char padded[scan_detail::kBlock] = {};
      const std::size_t size = base < text_.size() ? text_.size() - base : 0;
      if (size > 0) std::memcpy(padded, text_.data() + base, size);
      masks_ = Kernel::block(padded);
      const std::uint64_t valid = size == 0 ? 0 : (~std::uint64_t{0} >> (scan_detail::kBlock - size));
      masks_.newline &= valid;
      masks_.equals &= valid;
      masks_.special &= valid;
      masks_.carriage &= valid;
    }
    // The "\r" of a "\r\n" belongs to the line end, not to the line.
    const bool newline_next = base + scan_detail::kBlock < text_.size() && text_[base + scan_detail::kBlock] == '\n';
    masks_.special &= ~(masks_.carriage & ((masks_.newline >> 1) | (std::uint64_t{newline_next} << 63)));
  }

  std::string_view text_;
  std::size_t position_ = 0;
  std::size_t base_ = 0;
  scan_detail::BlockMasks masks_;
};

using LineScanner = BasicLineScanner<scan_detail::Native>;

// Physical lines in a text, counted ahead so that what holds one entry per
// line is sized once.
inline std::size_t count_lines(std::string_view text) noexcept {
  std::size_t count = 1;
  std::size_t i = 0;
#ifdef VYRL_SCAN_SSE2
  // Each line feed becomes a 1, and SAD sums them eight bytes at a time:
  // SSE2 has no cheaper count, and popcount is not in the baseline.
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i one = _mm_set1_epi8(1);
  const __m128i zero = _mm_setzero_si128();
  __m128i total = zero;
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    total = _mm_add_epi64(total, _mm_sad_epu8(_mm_and_si128(_mm_cmpeq_epi8(bytes, newline), one), zero));
  }
  count += static_cast<std::size_t>(_mm_cvtsi128_si64(total)) +
           static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total)));
#endif
  for (; i < text.size(); ++i) count += text[i] == '\n';
  return count;
}

}  // namespace vyrl
