#include "tests/support/DbcBuilder.h"

#include <cstring>
#include <stdexcept>

namespace {

void PutInt(std::string* out, std::int32_t v) {
  std::uint32_t u;
  std::memcpy(&u, &v, sizeof u);
  for (int i = 0; i < 4; ++i) {
    out->push_back(static_cast<char>((u >> (8 * i)) & 0xFFu));
  }
}

}  // namespace

DbcCell Int(std::int32_t v) {
  DbcCell c;
  c.kind = DbcCell::Kind::kInt;
  c.intValue = v;
  return c;
}

DbcCell Float(float v) {
  DbcCell c;
  c.kind = DbcCell::Kind::kFloat;
  c.floatValue = v;
  return c;
}

DbcCell Byte(std::uint8_t v) {
  DbcCell c;
  c.kind = DbcCell::Kind::kByte;
  c.intValue = v;
  return c;
}

DbcCell Str(const std::string& text) {
  DbcCell c;
  c.kind = DbcCell::Kind::kString;
  c.text = text;
  return c;
}

DbcCell Raw(const std::string& bytes) {
  DbcCell c;
  c.kind = DbcCell::Kind::kRaw;
  c.text = bytes;
  return c;
}

// Real tables start their string block with an empty string.
DbcBuilder::DbcBuilder() : strings_(1, '\0') {}

DbcBuilder& DbcBuilder::Record(std::initializer_list<DbcCell> cells) {
  return Record(std::vector<DbcCell>(cells));
}

DbcBuilder& DbcBuilder::Record(const std::vector<DbcCell>& cells) {
  std::string bytes;
  for (const DbcCell& c : cells) {
    switch (c.kind) {
      case DbcCell::Kind::kInt:
        PutInt(&bytes, c.intValue);
        break;
      case DbcCell::Kind::kFloat: {
        std::int32_t v;
        std::memcpy(&v, &c.floatValue, sizeof v);
        PutInt(&bytes, v);
        break;
      }
      case DbcCell::Kind::kByte:
        bytes.push_back(static_cast<char>(c.intValue));
        break;
      case DbcCell::Kind::kString:
        PutInt(&bytes, AddToStringBlock(c.text + '\0'));
        break;
      case DbcCell::Kind::kRaw:
        bytes += c.text;
        break;
    }
  }
  if (records_.empty()) {
    field_cells_ = static_cast<std::int32_t>(cells.size());
  } else if (bytes.size() != records_.front().size()) {
    throw std::invalid_argument("records differ in size");
  }
  records_.push_back(std::move(bytes));
  return *this;
}

DbcBuilder& DbcBuilder::Magic(const std::string& four) {
  if (four.size() != 4) throw std::invalid_argument("magic is 4 bytes");
  magic_ = four;
  return *this;
}

DbcBuilder& DbcBuilder::RecordCount(std::int32_t n) {
  has_count_ = true;
  count_ = n;
  return *this;
}

DbcBuilder& DbcBuilder::FieldCount(std::int32_t n) {
  has_fields_ = true;
  fields_ = n;
  return *this;
}

DbcBuilder& DbcBuilder::RecordSize(std::int32_t n) {
  has_size_ = true;
  size_ = n;
  return *this;
}

DbcBuilder& DbcBuilder::StringBlockSize(std::int32_t n) {
  has_block_size_ = true;
  block_size_ = n;
  return *this;
}

std::int32_t DbcBuilder::AddToStringBlock(const std::string& bytes) {
  const auto offset = static_cast<std::int32_t>(strings_.size());
  strings_ += bytes;
  return offset;
}

std::size_t DbcBuilder::StringBlockStart() const {
  std::size_t start = 20;
  for (const std::string& r : records_) start += r.size();
  return start;
}

std::string DbcBuilder::Build() const {
  const std::size_t record_bytes =
      records_.empty() ? 0 : records_.front().size();
  std::string out = magic_;
  PutInt(&out,
         has_count_ ? count_ : static_cast<std::int32_t>(records_.size()));
  PutInt(&out, has_fields_ ? fields_ : field_cells_);
  PutInt(&out, has_size_ ? size_ : static_cast<std::int32_t>(record_bytes));
  PutInt(&out, has_block_size_ ? block_size_
                               : static_cast<std::int32_t>(strings_.size()));
  out.reserve(StringBlockStart() + strings_.size());
  for (const std::string& r : records_) out += r;
  out += strings_;
  return out;
}
