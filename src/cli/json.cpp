#include "json.hpp"

#include <cstddef>

#include "vyrl/text.hpp"

namespace vyrl::cli {

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else if (byte < 0x80) {
          out += c;
        } else {
          // Each byte that starts no character becomes one replacement.
          std::size_t next = i;
          out += decode_utf8(text, next) == kNotUtf8 ? kReplacement : text.substr(i, next - i);
          i = next - 1;
        }
      }
    }
  }
  out += '"';
}

namespace {

template <class Value>
void append_inline(std::string& out, const Value& value) {
  switch (value.type()) {
    case Value::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out += ", ";
        first = false;
        append_json_string(out, key);
        out += ": ";
        append_inline(out, member);
      }
      out += '}';
      return;
    }
    case Value::value_t::array: {
      out += '[';
      bool first = true;
      for (const Value& item : value) {
        if (!first) out += ", ";
        first = false;
        append_inline(out, item);
      }
      out += ']';
      return;
    }
    case Value::value_t::string:
      append_json_string(out, value.template get_ref<const std::string&>());
      return;
    default:
      out += value.dump();  // null, booleans and numbers
      return;
  }
}

template <class Value>
std::string laid_out(const Value& value, bool spread) {
  std::string out;
  if (!spread || !value.is_structured() || value.empty()) {
    append_inline(out, value);
    out += '\n';
    return out;
  }
  const bool object = value.is_object();
  out += object ? "{\n" : "[\n";
  std::size_t left = value.size();
  for (const auto& [key, member] : value.items()) {
    out += "  ";
    if (object) {
      append_json_string(out, key);
      out += ": ";
    }
    append_inline(out, member);
    out += --left == 0 ? "\n" : ",\n";
  }
  out += object ? "}\n" : "]\n";
  return out;
}

}  // namespace

std::string json_text(const Json& value, bool spread) { return laid_out(value, spread); }
std::string json_text(const SortedJson& value, bool spread) { return laid_out(value, spread); }

}  // namespace vyrl::cli
