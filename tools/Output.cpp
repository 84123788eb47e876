#include "tools/Output.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

enum class Shape { kInteger, kFloat, kText };

Shape ShapeOf(const DBParam_t& result, bool dbc) {
  if (result.type == 2) return Shape::kFloat;
  if (result.type == (dbc ? 1 : 5)) return Shape::kText;
  return Shape::kInteger;
}

// True when text is well-formed UTF-8 (no overlongs, no surrogates).
bool IsUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

const char* TypeName(int type) {
  static const char* const kNames[] = {"integer", "string",  "float", "bit",
                                       "byte",    "cstring", "amount"};
  return type >= 0 && type <= 6 ? kNames[type] : "none";
}

}  // namespace

std::string FormatFloat(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string JsonString(const std::string& text) {
  // Text in a table has no declared encoding: UTF-8 passes through, anything
  // else is taken byte by byte as Latin-1, so the output is always valid.
  const bool utf8 = IsUtf8(text);
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", u);
          out += esc;
        } else if (u >= 0x80 && !utf8) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", u);
          out += esc;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string FormatPlain(const DBParam_t& result, bool dbc) {
  switch (ShapeOf(result, dbc)) {
    case Shape::kFloat:
      return FormatFloat(result.floatValue);
    case Shape::kText:
      return result.strValue;
    case Shape::kInteger:
      break;
  }
  return std::to_string(result.intValue);
}

std::string JsonValue(const DBParam_t& result, bool dbc) {
  switch (ShapeOf(result, dbc)) {
    case Shape::kFloat:
      return std::isfinite(result.floatValue)
                 ? FormatFloat(result.floatValue)
                 : JsonString(FormatFloat(result.floatValue));
    case Shape::kText:
      return JsonString(result.strValue);
    case Shape::kInteger:
      break;
  }
  return std::to_string(result.intValue);
}

std::string JsonMembers(const DBParam_t& result, bool dbc) {
  return std::string("\"type\":\"") + TypeName(result.type) +
         "\",\"value\":" + JsonValue(result, dbc);
}

std::string FormatJson(const DBParam_t& result, bool dbc) {
  return "{" + JsonMembers(result, dbc) + "}";
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}
