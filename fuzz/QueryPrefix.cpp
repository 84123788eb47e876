#include "fuzz/QueryPrefix.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

std::int32_t IndexFromByte(std::uint8_t b) {
  if (b < 0x70) return b % 10;
  if (b < 0x80) return std::numeric_limits<std::int32_t>::max() - (b - 0x70);
  return static_cast<std::int32_t>(b) - 0x100;
}

}  // namespace

bool QueryPrefix::Decode(const std::uint8_t* data, std::size_t size,
                         QueryPrefix* out) {
  if (size < kSize) return false;
  out->flags_ = data[0];
  for (int i = 0; i < 2 * kQueries; ++i) {
    out->indexes_[i] = IndexFromByte(data[1 + i]);
  }
  std::uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    bits |= static_cast<std::uint32_t>(data[5 + i]) << (8 * i);
  }
  std::memcpy(&out->value_, &bits, sizeof bits);
  const char* text = reinterpret_cast<const char*>(data + 9);
  out->text_.assign(text, strnlen(text, 4));
  return true;
}

std::string QueryPrefix::Encode(std::uint8_t flags,
                                const std::int32_t (&indexes)[2 * kQueries],
                                std::int32_t value, const std::string& text) {
  if (text.size() > 4) throw std::invalid_argument("key text is 4 bytes");
  std::string out(kSize, '\0');
  out[0] = static_cast<char>(flags);
  for (int i = 0; i < 2 * kQueries; ++i) {
    if (indexes[i] < 0 || indexes[i] > 9) {
      throw std::invalid_argument("seed indexes are 0..9");
    }
    out[1 + i] = static_cast<char>(indexes[i]);
  }
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i) {
    out[5 + i] = static_cast<char>((bits >> (8 * i)) & 0xFFu);
  }
  out.replace(9, text.size(), text);
  return out;
}

DBParam_t QueryPrefix::Key(int i) const {
  DBParam_t key;
  key.fieldIndex = indexes_[2 * i];
  key.intValue = value_;
  std::memcpy(&key.floatValue, &value_, sizeof key.floatValue);
  key.strValue = text_;
  return key;
}

DBParam_t QueryPrefix::Result(int i) const {
  DBParam_t result;
  result.fieldIndex = indexes_[2 * i + 1];
  return result;
}
