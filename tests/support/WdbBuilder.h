#ifndef SELVANE_TESTS_SUPPORT_WDBBUILDER_H_
#define SELVANE_TESTS_SUPPORT_WDBBUILDER_H_

#include <cstdint>
#include <string>

// Writes the bytes of a WDB cache file from a short description:
//
//   WdbBuilder wdb;
//   wdb.Record(7).CString("ab").Int(42);
//   wdb.Record(8).Length(-8);          // forced data length
//   std::string bytes = wdb.bytes();
//
// A record's data length counts the bytes appended after its framing words,
// unless Length forces a value. All integers are little-endian. Appending
// is amortised O(1), so benchmark files of millions of records are quick.
class WdbBuilder {
 public:
  // Starts with a 20-byte header of fixed, arbitrary content.
  WdbBuilder();

  // Replaces the header fields (the file must not hold records yet).
  WdbBuilder& Header(const std::string& firstTag, std::int32_t firstNumber,
                     const std::string& secondTag, std::int32_t secondNumber,
                     std::int32_t thirdNumber);

  // Begins a record: entry id, then its data length word.
  WdbBuilder& Record(std::int32_t id);
  // Stores this data length for the current record instead of the counted
  // one.
  WdbBuilder& Length(std::int32_t length);

  WdbBuilder& Int(std::int32_t value);
  WdbBuilder& Float(float value);
  WdbBuilder& Byte(std::uint8_t value);
  // The text and its terminating NUL.
  WdbBuilder& CString(const std::string& text);
  // Bytes as they stand; no NUL added. Outside a record they follow the
  // header or the last record without framing.
  WdbBuilder& Raw(const std::string& bytes);

  const std::string& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  // Offset of the current record's entry id (0 before the first record).
  std::size_t record_start() const { return record_; }

 private:
  void PutFixed32(std::uint32_t value);
  void UpdateLength();

  std::string bytes_;
  std::size_t record_ = 0;  // 0: no record begun
  bool forced_ = false;
};

#endif  // SELVANE_TESTS_SUPPORT_WDBBUILDER_H_
