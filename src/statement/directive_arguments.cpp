#include "statement/directive_arguments.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#if defined(__SSE2__) && !defined(VYRL_PORTABLE_SCAN)
#include <emmintrin.h>
#endif

#include "literal/literal.hpp"
#include "text/text.hpp"

namespace vyrl {
namespace {

constexpr std::string_view kNotNameEqualsDefinition = "Type definition must be in the format 'name = definition'";
constexpr std::string_view kEmptyTypeName = "Type name cannot be empty";
constexpr std::string_view kEmptyDefinition = "Type definition cannot be empty";
constexpr std::string_view kEmptyImportPath = "Import path cannot be empty";

constexpr std::string_view kExpectedOpenBrace = "Expected '{'";
constexpr std::string_view kEmptySchemaName = "Schema name is empty";
constexpr std::string_view kExpectedCloseBrace = "Expected '}'";

std::string field_without_colon(std::string_view token) { return "Bad field: '" + excerpt(token) + "'"; }

std::string field_without_type(std::string_view raw_name) {
  return "Bad field: '" + excerpt(raw_name) + ":' has no type";
}

std::string field_without_name(std::string_view name, std::string_view type) {
  return "Bad field: '" + excerpt(name) + ": " + excerpt(type) + "'";
}

// A handler is not told its line, so @type and @import quote their argument
// text where the line would stand.
VyrlError refuse_at_arguments(std::string_view arguments, std::string_view reason) {
  return VyrlError::parse(0, arguments, std::string(reason));
}

VyrlError refuse_schema(std::string reason) {
  return VyrlError::directive(std::string(directive_name(DirectiveKind::schema)), std::move(reason));
}

// A comma, or white space, which below 0x80 is a space or one of tab,
// line feed, vertical tab, form feed and carriage return, the rule
// white_space_at_any applies to ASCII.
constexpr bool separates(std::size_t c) noexcept { return c == ' ' || c == ',' || (c >= 0x09 && c <= 0x0D); }

// What a byte is to the tokeniser: surely part of a token, surely a
// separator, or either (the first byte of a multi-byte character, which
// white_space_at_any settles).
enum ByteKind : unsigned char { kTokenByte, kSeparatorByte, kAskByte };
constexpr std::array<unsigned char, 256> kByteKinds = [] {
  std::array<unsigned char, 256> kinds{};
  for (std::size_t c = 0; c < kinds.size(); ++c) kinds[c] = c < 0x80 ? (separates(c) ? kSeparatorByte : kTokenByte) : kAskByte;
  return kinds;
}();

// Walks the body's tokens in place. Commas separate like white space anywhere,
// even in the middle of what looks like one type name.
class Tokens {
 public:
  explicit Tokens(std::string_view body) noexcept : body_(body) {}

  // The next non-empty token, or an empty view once the body is used up.
  std::string_view next() noexcept {
    // Locals, not members: stores through `this` would make the compiler
    // reload the body at every byte.
    const std::string_view body = body_;
    const char* const data = body.data();
    const std::size_t size = body.size();
    std::size_t pos = pos_;
    while (pos < size) {
      const unsigned char kind = kind_of(data[pos]);
      if (kind == kTokenByte) break;
      if (kind == kSeparatorByte) {
        ++pos;
        continue;
      }
      const std::size_t gap = white_space_at_any(body, pos);
      if (gap == 0) break;
      pos += gap;
    }
    const std::size_t start = pos;
    while (pos < size) {
      const unsigned char kind = kind_of(data[pos]);
      if (kind == kTokenByte) {
        ++pos;
        continue;
      }
      if (kind == kSeparatorByte || white_space_at_any(body, pos) != 0) break;
      ++pos;
    }
    pos_ = pos;
    return {data + start, pos - start};
  }

 private:
  static unsigned char kind_of(char c) noexcept { return kByteKinds[static_cast<unsigned char>(c)]; }

  std::string_view body_;
  std::size_t pos_ = 0;
};

// The same tokens as Tokens for a body without a byte of 0x80 or above, most
// bodies: each 64 bytes become a mask of separators, and a token is the run
// between two set bits, with no test per byte. A schema block read in place
// brings its line breaks and indentation here, which made the byte loop the
// larger part of declaring a field.
class QuietTokens {
 public:
  explicit QuietTokens(std::string_view body) noexcept : body_(body) { load(0); }

  std::string_view next() noexcept {
    const std::size_t size = body_.size();
    if (pos_ >= size) return {body_.data() + size, 0};
    // Bits past the body are separators, so a search within the last block stops there.
    std::uint64_t token = ~separators_ & (~std::uint64_t{0} << (pos_ - base_));
    while (token == 0) {
      if (base_ + kBlock >= size) {
        pos_ = size;
        return {body_.data() + size, 0};
      }
      load(base_ + kBlock);
      token = ~separators_;
    }
    const std::size_t start = base_ + static_cast<std::size_t>(std::countr_zero(token));
    std::uint64_t gap = separators_ & (~std::uint64_t{0} << (start - base_));
    while (gap == 0) {
      // No separator in this block: it ends past it (a block past the body
      // is all separators, so this ends).
      load(base_ + kBlock);
      gap = separators_;
    }
    pos_ = std::min(size, base_ + static_cast<std::size_t>(std::countr_zero(gap)));
    return {body_.data() + start, pos_ - start};
  }


 private:
  static constexpr std::size_t kBlock = 64;

  void load(std::size_t base) noexcept {
    base_ = base;
    const std::size_t size = body_.size();
    const std::size_t count = base < size ? std::min(kBlock, size - base) : 0;
    const std::uint64_t past = count == kBlock ? 0 : ~std::uint64_t{0} << count;
    if (count == kBlock) {
      separators_ = block_separators(body_.data() + base);
      return;
    }
    // The last, partial block from a copy padded with spaces.
    char padded[kBlock];
    std::memset(padded, ' ', kBlock);
    if (count > 0) std::memcpy(padded, body_.data() + base, count);
    separators_ = block_separators(padded) | past;
  }

  static std::uint64_t block_separators(const char* block) noexcept {
#if defined(__SSE2__) && !defined(VYRL_PORTABLE_SCAN)
    std::uint64_t mask = 0;
    for (std::size_t part = 0; part < kBlock; part += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + part));
      // Tab to carriage return: 0x09 to 0x0D, as an unsigned range test.
      const __m128i shifted = _mm_sub_epi8(bytes, _mm_set1_epi8(0x09));
      const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(0x04)), shifted);
      const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')));
      mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_or_si128(control, space)))} << part;
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < kBlock; ++i) mask |= std::uint64_t{separates(static_cast<unsigned char>(block[i]))} << i;
    return mask;
#endif
  }

  std::string_view body_;
  std::size_t pos_ = 0;
  std::size_t base_ = 0;
  std::uint64_t separators_ = 0;
};

constexpr std::string_view kSelectorSeparator = "::";

std::vector<std::string_view> split_selector(std::string_view selector) {
  std::vector<std::string_view> names;
  for (;;) {
    const std::size_t separator = selector.find(kSelectorSeparator);
    // Empty pieces vanish, so "path::" and "path:: ::" select nothing, i.e. everything.
    if (const std::string_view piece = trim(selector.substr(0, separator)); !piece.empty()) {
      names.push_back(piece);
    }
    if (separator == std::string_view::npos) return names;
    selector.remove_prefix(separator + kSelectorSeparator.size());
  }
}

// How many colons a body holds, and whether all its bytes are below 0x80.
struct BodyBytes {
  std::size_t colons = 0;
  bool ascii = true;
};
BodyBytes body_bytes(std::string_view body) noexcept {
  std::size_t colons = 0;
  unsigned high = 0;
  std::size_t i = 0;
#if defined(__SSE2__) && !defined(VYRL_PORTABLE_SCAN)
  // Each colon becomes a 1, summed eight bytes at a time by SAD: the byte
  // loop cost as much as cutting the body into tokens.
  const __m128i colon = _mm_set1_epi8(':');
  const __m128i one = _mm_set1_epi8(1);
  __m128i total = _mm_setzero_si128();
  __m128i any = _mm_setzero_si128();
  for (; i + 16 <= body.size(); i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(body.data() + i));
    total = _mm_add_epi64(total, _mm_sad_epu8(_mm_and_si128(_mm_cmpeq_epi8(bytes, colon), one), _mm_setzero_si128()));
    any = _mm_or_si128(any, bytes);
  }
  colons = static_cast<std::size_t>(_mm_cvtsi128_si64(total)) +
           static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total)));
  high = static_cast<unsigned>(_mm_movemask_epi8(any));
#endif
  for (; i < body.size(); ++i) {
    const auto c = static_cast<unsigned char>(body[i]);
    colons += c == ':' ? 1 : 0;
    high |= c & 0x80U;
  }
  return {colons, high == 0};
}

// The fields of a schema body, in the order written, or the refusal of the
// first bad one.
template <class TokenReader>
std::optional<VyrlError> read_fields(TokenReader tokens, std::size_t colons, std::vector<SchemaFieldSyntax>& fields) {
  // Every field has a colon, so their count bounds the fields: one allocation
  // instead of one per doubling.
  fields.reserve(colons);
  for (std::string_view token = tokens.next(); !token.empty(); token = tokens.next()) {
    const char* const begin = token.data();
    const char* const end = begin + token.size();
    const char* const colon = static_cast<const char*>(std::memchr(begin, ':', token.size()));
    if (colon == nullptr) {
      VyrlError refused = refuse_schema(field_without_colon(token));
      // "port : i32" reads as a field "port" with no ":" and then a stray one.
      if (tokens.next().starts_with(':')) refused.set_slip(VyrlError::Slip::colon_apart);
      return refused;
    }
    const std::string_view raw_name(begin, static_cast<std::size_t>(colon - begin));
    std::string_view type(colon + 1, static_cast<std::size_t>(end - colon - 1));
    // "name: type" puts the type in its own token; whatever comes next is taken.
    if (type.empty()) {
      type = tokens.next();
      if (type.empty()) return refuse_schema(field_without_type(raw_name));
    }
    const char* field_end = colon;
    while (field_end != begin && field_end[-1] == '*') --field_end;
    const std::string_view field(begin, static_cast<std::size_t>(field_end - begin));
    if (field.empty()) return refuse_schema(field_without_name(field, type));
    fields.push_back({field, std::string_view(field_end, static_cast<std::size_t>(colon - field_end)), type});
  }
  return std::nullopt;
}

}  // namespace

std::expected<TypeArguments, VyrlError> parse_type_arguments(std::string_view arguments) {
  const std::size_t equals = arguments.find('=');
  if (equals == std::string_view::npos) return std::unexpected(refuse_at_arguments(arguments, kNotNameEqualsDefinition));
  const std::string_view name = trim(arguments.substr(0, equals));
  // Later "=" belong to the definition, so "a = b = c" defines a as "b = c".
  const std::string_view definition = trim(arguments.substr(equals + 1));
  if (name.empty()) return std::unexpected(refuse_at_arguments(arguments, kEmptyTypeName));
  if (definition.empty()) return std::unexpected(refuse_at_arguments(arguments, kEmptyDefinition));
  return TypeArguments{name, definition};
}

std::expected<SchemaArguments, VyrlError> parse_schema_arguments(std::string_view arguments) {
  const std::string_view text = trim(arguments);
  const std::size_t open = text.find('{');
  if (open == std::string_view::npos) return std::unexpected(refuse_schema(std::string(kExpectedOpenBrace)));
  const std::string_view name = trim(text.substr(0, open));
  if (name.empty()) return std::unexpected(refuse_schema(std::string(kEmptySchemaName)));
  // The body ends at the last "}", so trailing words after it are ignored but a
  // stray "}" inside it becomes a field token.
  const std::size_t close = text.rfind('}');
  if (close == std::string_view::npos || close < open) {
    return std::unexpected(refuse_schema(std::string(kExpectedCloseBrace)));
  }

  SchemaArguments schema{name, text.substr(open, 1), text.substr(close, 1), {}};
  const std::string_view body = text.substr(open + 1, close - open - 1);
  const BodyBytes bytes = body_bytes(body);
  // Below a block's worth of bytes, setting up the masks costs more than it saves.
  if (body.size() >= 64 && bytes.ascii) {
    if (auto refused = read_fields(QuietTokens(body), bytes.colons, schema.fields)) {
      return std::unexpected(std::move(*refused));
    }
  } else if (auto refused = read_fields(Tokens(body), bytes.colons, schema.fields)) {
    return std::unexpected(std::move(*refused));
  }
  return schema;
}

std::vector<std::string_view> schema_body_tokens(std::string_view body, TokenRoad road) {
  std::vector<std::string_view> tokens;
  const auto read = [&tokens](auto reader) {
    for (std::string_view token = reader.next(); !token.empty(); token = reader.next()) tokens.push_back(token);
  };
  if (road == TokenRoad::quiet) {
    read(QuietTokens(body));
  } else {
    read(Tokens(body));
  }
  return tokens;
}

std::expected<std::string_view, VyrlError> parse_import_arguments(std::string_view arguments) {
  const std::string_view trimmed = trim(arguments);
  if (trimmed.empty()) {
    VyrlError refused = refuse_at_arguments(arguments, kEmptyImportPath);
    refused.set_slip(VyrlError::Slip::import_without_path);
    return std::unexpected(std::move(refused));
  }
  return unwrap_quotes(trimmed);
}

DeriveTarget split_derive_arguments(std::string_view arguments) {
  const std::string_view text = trim(arguments);
  std::string_view path = text;
  std::string_view selector;
  if (!text.empty() && (text.front() == '"' || text.front() == '\'')) {
    // An unclosed quote leaves the whole text, quote included, as the path.
    if (const std::size_t close = text.find(text.front(), 1); close != std::string_view::npos) {
      path = text.substr(1, close - 1);
      selector = text.substr(close + 1);
      // After a closing quote any run of colons may lead into the selector: "x":A, "x"::A.
      while (!selector.empty() && selector.front() == ':') selector.remove_prefix(1);
    }
  } else if (const std::size_t separator = text.find(kSelectorSeparator); separator != std::string_view::npos) {
    path = text.substr(0, separator);
    selector = text.substr(separator + kSelectorSeparator.size());
  }
  return DeriveTarget{trim(path), split_selector(selector)};
}

}  // namespace vyrl
