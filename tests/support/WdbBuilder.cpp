#include "tests/support/WdbBuilder.h"

#include <cstring>
#include <stdexcept>

namespace {

constexpr std::size_t kHeaderSize = 20;

std::string Tag(const std::string& tag) {
  std::string four = tag.substr(0, 4);
  four.resize(4, '\0');
  return four;
}

void StoreFixed32(char* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
  }
}

std::uint32_t Bits(std::int32_t value) {
  std::uint32_t u;
  std::memcpy(&u, &value, sizeof u);
  return u;
}

}  // namespace

WdbBuilder::WdbBuilder() { Header("TSTa", 1, "TSTb", 2, 3); }

WdbBuilder& WdbBuilder::Header(const std::string& firstTag,
                               std::int32_t firstNumber,
                               const std::string& secondTag,
                               std::int32_t secondNumber,
                               std::int32_t thirdNumber) {
  if (bytes_.size() > kHeaderSize) {
    throw std::logic_error("header after records");
  }
  bytes_.clear();
  bytes_ += Tag(firstTag);
  PutFixed32(Bits(firstNumber));
  bytes_ += Tag(secondTag);
  PutFixed32(Bits(secondNumber));
  PutFixed32(Bits(thirdNumber));
  return *this;
}

WdbBuilder& WdbBuilder::Record(std::int32_t id) {
  record_ = bytes_.size();
  forced_ = false;
  PutFixed32(Bits(id));
  PutFixed32(0);
  return *this;
}

WdbBuilder& WdbBuilder::Length(std::int32_t length) {
  if (record_ == 0) throw std::logic_error("Length outside a record");
  forced_ = true;
  StoreFixed32(&bytes_[record_ + 4], Bits(length));
  return *this;
}

WdbBuilder& WdbBuilder::Int(std::int32_t value) {
  PutFixed32(Bits(value));
  UpdateLength();
  return *this;
}

WdbBuilder& WdbBuilder::Float(float value) {
  std::uint32_t u;
  std::memcpy(&u, &value, sizeof u);
  PutFixed32(u);
  UpdateLength();
  return *this;
}

WdbBuilder& WdbBuilder::Byte(std::uint8_t value) {
  bytes_ += static_cast<char>(value);
  UpdateLength();
  return *this;
}

WdbBuilder& WdbBuilder::CString(const std::string& text) {
  bytes_ += text;
  bytes_ += '\0';
  UpdateLength();
  return *this;
}

WdbBuilder& WdbBuilder::Raw(const std::string& bytes) {
  bytes_ += bytes;
  UpdateLength();
  return *this;
}

void WdbBuilder::PutFixed32(std::uint32_t value) {
  char p[4];
  StoreFixed32(p, value);
  bytes_.append(p, sizeof p);
}

void WdbBuilder::UpdateLength() {
  if (record_ == 0 || forced_) return;
  const std::size_t length = bytes_.size() - record_ - 8;
  StoreFixed32(&bytes_[record_ + 4], static_cast<std::uint32_t>(length));
}
