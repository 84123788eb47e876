#ifndef SELVANE_TESTS_SUPPORT_DBCBUILDER_H_
#define SELVANE_TESTS_SUPPORT_DBCBUILDER_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// One cell of a DBC record as a test describes it.
struct DbcCell {
  enum class Kind { kInt, kFloat, kByte, kString, kRaw };
  Kind kind = Kind::kInt;
  std::int32_t intValue = 0;
  float floatValue = 0.0f;
  std::string text;  // kString: stored in the string block; kRaw: as is
};

DbcCell Int(std::int32_t v);
DbcCell Float(float v);
DbcCell Byte(std::uint8_t v);
// Appends text (and its NUL) to the string block and stores its offset: two
// cells with equal text get different offsets.
DbcCell Str(const std::string& text);
// Bytes written into the record unchanged.
DbcCell Raw(const std::string& bytes);

// Builds the bytes of a DBC table: header, records, string block.
// By default the header holds "WDBC", the number of records, the cells in
// the first record, the bytes of the first record and the string block's
// size; each can be overridden to describe a damaged table.
class DbcBuilder {
 public:
  DbcBuilder();

  DbcBuilder& Record(std::initializer_list<DbcCell> cells);
  DbcBuilder& Record(const std::vector<DbcCell>& cells);

  DbcBuilder& Magic(const std::string& four);
  DbcBuilder& RecordCount(std::int32_t n);
  DbcBuilder& FieldCount(std::int32_t n);
  DbcBuilder& RecordSize(std::int32_t n);
  DbcBuilder& StringBlockSize(std::int32_t n);
  // Appends raw bytes to the string block; returns their offset.
  std::int32_t AddToStringBlock(const std::string& bytes);

  // Offset in the table of the string block.
  std::size_t StringBlockStart() const;
  std::string Build() const;

 private:
  std::string magic_ = "WDBC";
  std::vector<std::string> records_;
  std::int32_t field_cells_ = 0;
  std::string strings_;
  bool has_count_ = false, has_fields_ = false, has_size_ = false,
       has_block_size_ = false;
  std::int32_t count_ = 0, fields_ = 0, size_ = 0, block_size_ = 0;
};

#endif  // SELVANE_TESTS_SUPPORT_DBCBUILDER_H_
