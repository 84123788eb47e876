#include "readers/WDBFileWrapper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/support/UntoldSource.h"
#include "tests/support/WdbBuilder.h"

namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

selvane::FieldAttr_t Field(std::int32_t type, std::int32_t size = 4,
                           std::int32_t skipbyte = 0) {
  selvane::FieldAttr_t f;
  f.type = type;
  f.size = size;
  f.skipbyte = skipbyte;
  return f;
}

// Fields at positions 0, 1, 2, ... in the order given; the first two stand
// for the entry id and the data length.
selvane::FieldMap Fields(std::initializer_list<selvane::FieldAttr_t> data) {
  selvane::FieldMap map;
  std::int32_t position = 0;
  map[position++] = Field(selvane::kTypeInteger);
  map[position++] = Field(selvane::kTypeInteger);
  for (selvane::FieldAttr_t f : data) {
    f.position = position;
    map[position++] = f;
  }
  return map;
}

// Every member set to something no reader would write, so that any change
// shows.
DBParam_t Param(std::int32_t index) {
  DBParam_t p;
  p.fieldIndex = index;
  p.type = 99;
  p.intValue = -12345;
  p.strValue = "pre";
  p.floatValue = 77.5f;
  return p;
}
DBParam_t IntKey(std::int32_t index, std::int32_t value) {
  DBParam_t p = Param(index);
  p.intValue = value;
  return p;
}
DBParam_t FloatKey(std::int32_t index, float value) {
  DBParam_t p = Param(index);
  p.floatValue = value;
  return p;
}
DBParam_t TextKey(std::int32_t index, const std::string& value) {
  DBParam_t p = Param(index);
  p.strValue = value;
  return p;
}

bool SameValues(const DBParam_t& a, const DBParam_t& b) {
  return a.intValue == b.intValue && a.strValue == b.strValue &&
         std::memcmp(&a.floatValue, &b.floatValue, sizeof(float)) == 0;
}
bool Same(const DBParam_t& a, const DBParam_t& b) {
  return a.fieldIndex == b.fieldIndex && a.type == b.type && SameValues(a, b);
}

class WDBFileWrapperTest : public ::testing::Test {
 protected:
  std::wstring Write(const std::string& bytes,
                     const std::string& name = "t.wdb") {
    return Widen(dir_.Write(name, bytes));
  }

  // Opens the bytes as a file, attaches the fields and asks one query.
  int Ask(const std::string& bytes, const selvane::FieldMap& fields,
          DBParam_t& key, DBParam_t& result) {
    CWDBFileWrapper reader;
    if (reader.Open(Write(bytes)) != 0) return -2;  // not what Query says
    if (reader.SetDefinition(&fields) != 0) return -3;
    return reader.Query(key, result);
  }

  TempDir dir_;
};

// --- Opening and the header -------------------------------------------

TEST_F(WDBFileWrapperTest, OpensEveryFileOfTwentyBytesOrMore) {
  const selvane::FieldMap fields = Fields({});
  struct Case {
    std::string bytes;
    int open;
  };
  const Case cases[] = {
      {"", -1},
      {std::string(19, 'x'), -1},
      {std::string(20, '\0'), 0},
      {std::string(20, '\xFF'), 0},
      {std::string(21, 'x'), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    CWDBFileWrapper reader;
    ASSERT_EQ(c.open, reader.Open(Write(c.bytes)));
    ASSERT_EQ(0, reader.SetDefinition(&fields));
    for (std::int32_t index : {0, 1}) {
      DBParam_t key = IntKey(index, 0);
      DBParam_t result = Param(0);
      EXPECT_EQ(-1, reader.Query(key, result));
      EXPECT_TRUE(Same(Param(0), result));
    }
  }
}

TEST_F(WDBFileWrapperTest, ReadsTheHeaderFieldsInFileOrder) {
  WdbBuilder wdb;
  wdb.Header("ABCD", -5, "EFGH", 7, 0x01020304);
  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
  const WDBHeader_t& h = reader.header();
  EXPECT_EQ("ABCD", std::string(h.firstTag, 4));
  EXPECT_EQ(-5, h.firstNumber);
  EXPECT_EQ("EFGH", std::string(h.secondTag, 4));
  EXPECT_EQ(7, h.secondNumber);
  EXPECT_EQ(0x01020304, h.thirdNumber);
}

TEST_F(WDBFileWrapperTest, RefusesMissingFilesAndPathsThatWouldBeCut) {
  CWDBFileWrapper reader;
  EXPECT_EQ(-1, reader.Open(Widen(dir_.File("missing.wdb"))));

  // U+0141 cut to 8 bits is 'A': that file exists and must not be opened.
  WdbBuilder wdb;
  wdb.Record(1).Int(2);
  dir_.Write("A", wdb.bytes());
  const std::wstring cut = Widen(dir_.path() + "/") + L"\u0141";
  EXPECT_EQ(-1, reader.Open(cut));
  EXPECT_EQ(cut, reader.path());
  const selvane::FieldMap fields = Fields({Field(selvane::kTypeInteger)});
  ASSERT_EQ(0, reader.SetDefinition(&fields));
  DBParam_t key = IntKey(0, 1);
  DBParam_t result = Param(2);
  EXPECT_EQ(-1, reader.Query(key, result));
  EXPECT_EQ(-1, reader.SeekFromBegin(20));
}

TEST_F(WDBFileWrapperTest, ReopeningReleasesTheFirstFile) {
  const selvane::FieldMap fields = Fields({Field(selvane::kTypeInteger)});
  WdbBuilder first, second;
  first.Record(1).Int(100);
  second.Record(2).Int(200);
  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Write(first.bytes(), "first.wdb")));
  ASSERT_EQ(0, reader.SetDefinition(&fields));
  ASSERT_EQ(0, reader.SeekFromBegin(1000));
  char c = 0;
  ASSERT_EQ(-1, reader.ReadByte(&c));  // failed for good on this file

  ASSERT_EQ(0, reader.Open(Write(second.bytes(), "second.wdb")));
  DBParam_t key = IntKey(0, 2);
  DBParam_t result = Param(2);
  EXPECT_EQ(0, reader.Query(key, result));
  EXPECT_EQ(200, result.intValue);
  key = IntKey(0, 1);
  EXPECT_EQ(-1, reader.Query(key, result));

  // A failed reopen leaves nothing of the earlier file readable.
  EXPECT_EQ(-1, reader.Open(Widen(dir_.File("missing.wdb"))));
  key = IntKey(0, 2);
  EXPECT_EQ(-1, reader.Query(key, result));
}

TEST_F(WDBFileWrapperTest, CloseIsIdempotentAndKeepsPathAndHeader) {
  CWDBFileWrapper never;
  never.Close();
  never.Close();
  EXPECT_EQ(-1, never.ReadHeader());

  WdbBuilder wdb;
  wdb.Header("QRST", 1, "UVWX", 2, 3).Record(1);
  CWDBFileWrapper reader;
  const std::wstring path = Write(wdb.bytes());
  ASSERT_EQ(0, reader.Open(path));
  reader.Close();
  reader.Close();
  EXPECT_EQ(path, reader.path());
  EXPECT_EQ("QRST", std::string(reader.header().firstTag, 4));
  std::int32_t v = 0;
  EXPECT_EQ(-1, reader.SeekFromBegin(0));
  EXPECT_EQ(-1, reader.ReadInt(&v));
  EXPECT_EQ(-1, reader.ReadHeader());
}

// --- Primitives ---------------------------------------------------------

TEST_F(WDBFileWrapperTest, PrimitivesReadLittleEndianAndAdvance) {
  WdbBuilder wdb;
  wdb.Int(0x11223344).Float(1.5f).Byte(0xC8).Raw("ab").CString("hello");
  wdb.CString("").Raw("xyz");
  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
  // Reached through the base, as the interface is used.
  CFileWrapper& r = reader;
  std::int32_t i = 0;
  float f = 0;
  char c = 0;
  char two[2] = {};
  std::string s = "pre";
  ASSERT_EQ(0, r.SeekFromBegin(20));
  EXPECT_EQ(0, r.ReadInt(&i));
  EXPECT_EQ(0x11223344, i);
  EXPECT_EQ(0, r.ReadFloat(&f));
  EXPECT_EQ(1.5f, f);
  EXPECT_EQ(0, r.ReadByte(&c));
  EXPECT_EQ(-56, static_cast<signed char>(c));
  EXPECT_EQ(0, r.ReadBytes(two, 2));
  EXPECT_EQ("ab", std::string(two, 2));
  EXPECT_EQ(0, r.ReadString(s));
  EXPECT_EQ("prehello", s);
  EXPECT_EQ(0, r.ReadString(s));  // an empty text appends nothing
  EXPECT_EQ("prehello", s);
  EXPECT_EQ(0, r.ReadBytes(two, 0));
  // Back and forth from the current position.
  EXPECT_EQ(0, r.SeekFromCurrent(-9));
  EXPECT_EQ(0, r.ReadByte(&c));
  EXPECT_EQ('a', c);
  EXPECT_EQ(0, r.SeekFromCurrent(8));
  EXPECT_EQ(0, r.ReadBytes(two, 2));
  EXPECT_EQ("xy", std::string(two, 2));
}

TEST_F(WDBFileWrapperTest, ReadStringFailingAtTheEndKeepsWhatItAppended) {
  WdbBuilder wdb;
  wdb.Raw("abc");
  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
  std::string s = "x";
  EXPECT_EQ(-1, reader.ReadString(s));
  EXPECT_EQ("xabc", s);
}

TEST_F(WDBFileWrapperTest, FailuresOfReadsAndSeeksAreSticky) {
  WdbBuilder wdb;
  wdb.Raw("abcdefgh");  // no NUL anywhere after the header
  struct Case {
    const char* name;
    int (*fail)(CFileWrapper&);
  };
  const Case cases[] = {
      {"seek past the end, then read",
       [](CFileWrapper& r) {
         std::int32_t v;
         return r.SeekFromBegin(1 << 20) == 0 ? r.ReadInt(&v) : 0;
       }},
      {"negative absolute seek",
       [](CFileWrapper& r) { return r.SeekFromBegin(-1); }},
      {"seek before the start",
       [](CFileWrapper& r) { return r.SeekFromCurrent(-21); }},
      {"seek beyond 2^31-1",
       [](CFileWrapper& r) {
         return r.SeekFromBegin(kInt32Max) == 0 ? r.SeekFromCurrent(1) : 0;
       }},
      {"negative byte count",
       [](CFileWrapper& r) {
         char c;
         return r.ReadBytes(&c, -1);
       }},
      {"read across the end",
       [](CFileWrapper& r) {
         char buf[16];
         return r.SeekFromBegin(24) == 0 ? r.ReadBytes(buf, 5) : 0;
       }},
      {"text without a NUL",
       [](CFileWrapper& r) {
         std::string s;
         return r.SeekFromBegin(20) == 0 ? r.ReadString(s) : 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CWDBFileWrapper reader;
    ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
    EXPECT_EQ(-1, c.fail(reader));
    std::int32_t v = 0;
    char ch = 0;
    EXPECT_EQ(-1, reader.SeekFromBegin(20));
    EXPECT_EQ(-1, reader.SeekFromCurrent(0));
    EXPECT_EQ(-1, reader.ReadInt(&v));
    EXPECT_EQ(-1, reader.ReadByte(&ch));
    EXPECT_EQ(-1, reader.SkipCString());
  }
}

TEST_F(WDBFileWrapperTest, SkipFieldStepsAsTheDefinitionSays) {
  // Data bytes after the header: value = offset + 1, a NUL at offset 15.
  std::string data;
  for (int i = 0; i < 40; ++i) data += static_cast<char>(i + 1);
  data[15] = '\0';
  WdbBuilder wdb;
  wdb.Raw(data);
  struct Case {
    selvane::FieldAttr_t field;
    int next;  // data offset of the byte read after the skip, from 10
  };
  const Case cases[] = {
      {Field(selvane::kTypeCString, 99), 16},   // through the NUL, size unused
      {Field(selvane::kTypeAmount, 4, 2), 16},  // size, then skipbyte
      {Field(selvane::kTypeAmount, 0, 3), 13},
      {Field(selvane::kTypeInteger, 4), 14},
      {Field(selvane::kTypeByte, 1), 11},
      {Field(selvane::kTypeFloat, 8),
       18},  // the size as given, not the type's width
      {Field(selvane::kTypeString, 4, 9),
       14},                                // skipbyte only counts for "amount"
      {Field(selvane::kTypeNone, 0), 10},  // defined without a size: no bytes
      {Field(selvane::kTypeInteger, -4), 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.field.type) + "/" +
                 std::to_string(c.field.size));
    CWDBFileWrapper reader;
    ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
    ASSERT_EQ(0, reader.SeekFromBegin(30));
    reader.SkipField(c.field);
    char after = 0;
    ASSERT_EQ(0, reader.ReadByte(&after));
    EXPECT_EQ(c.next + 1, after);
  }

  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
  ASSERT_EQ(0, reader.SeekFromBegin(20 + 16));
  EXPECT_EQ(-1, reader.SkipCString());  // no NUL before the end
}

// --- Field indexes and definitions ---------------------------------------

TEST_F(WDBFileWrapperTest, IndexesOutsideTheDefinitionFailBeforeTheScan) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeInteger), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).Int(10).Int(20);
  const std::wstring path = Write(wdb.bytes());
  struct Case {
    std::int32_t key;
    std::int32_t result;
  };
  // Key index 2 would have its type written by a scan, so an unchanged
  // key proves no record was read.
  const Case cases[] = {{-1, 0}, {4, 0}, {5, 0}, {kInt32Min, 0}, {kInt32Max, 0},
                        {2, -1}, {2, 4}, {2, 5}, {2, kInt32Min}, {4, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.key) + "," + std::to_string(c.result));
    CWDBFileWrapper reader;
    ASSERT_EQ(0, reader.Open(path));
    ASSERT_EQ(0, reader.SetDefinition(&fields));
    DBParam_t key = IntKey(c.key, 10);
    DBParam_t result = Param(c.result);
    const DBParam_t key_before = key;
    EXPECT_EQ(-1, reader.CheckFieldIndexes(key, result));
    EXPECT_EQ(-1, reader.Query(key, result));
    EXPECT_TRUE(Same(key_before, key));
    EXPECT_TRUE(Same(Param(c.result), result));
  }
  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(path));
  ASSERT_EQ(0, reader.SetDefinition(&fields));
  EXPECT_EQ(0, reader.CheckFieldIndexes(IntKey(3, 0), Param(0)));
}

TEST_F(WDBFileWrapperTest, QueryNeedsDefinitionsAndNullIsRefused) {
  const selvane::FieldMap fields = Fields({Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).Int(10);
  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
  DBParam_t key = IntKey(0, 1);
  DBParam_t result = Param(2);
  EXPECT_EQ(-1, reader.Query(key, result));
  EXPECT_TRUE(Same(IntKey(0, 1), key));
  EXPECT_TRUE(Same(Param(2), result));

  EXPECT_EQ(-1, reader.SetDefinition(nullptr));
  ASSERT_EQ(0, reader.SetDefinition(&fields));
  EXPECT_EQ(-1, reader.SetDefinition(nullptr));  // keeps the earlier one
  EXPECT_EQ(0, reader.Query(key, result));
  EXPECT_EQ(10, result.intValue);
}

// --- Keys and results
// ---------------------------------------------------------

TEST_F(WDBFileWrapperTest, WorkedExample) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeCString), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(7).CString("ab").Int(42);
  wdb.Record(8).CString("zz").Int(43);
  ASSERT_EQ(35u, wdb.record_start());  // 20 + 8 + 7

  DBParam_t key = IntKey(0, 7);
  DBParam_t result = Param(3);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(selvane::kTypeInteger, result.type);
  EXPECT_EQ(42, result.intValue);
  EXPECT_EQ(selvane::kTypeInteger, key.type);

  result = Param(2);
  result.strValue.clear();
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(selvane::kTypeCString, result.type);
  EXPECT_EQ("ab", result.strValue);

  result = Param(1);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(selvane::kTypeInteger, result.type);
  EXPECT_EQ(7, result.intValue);
}

TEST_F(WDBFileWrapperTest, EveryKeyIndexFindsItsRecordAndEveryResultReads) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeInteger), Field(selvane::kTypeCString),
              Field(selvane::kTypeFloat), Field(selvane::kTypeByte, 1)});
  struct Row {
    std::int32_t id;
    std::int32_t a;
    std::string name;
    float f;
    std::uint8_t b;
  };
  const Row rows[] = {{10, 100, "alpha", 1.5f, 0x05},
                      {20, 200, "be", -2.25f, 0xC8},
                      {30, 300, "", 0.5f, 0x7F}};
  WdbBuilder wdb;
  for (const Row& r : rows) {
    wdb.Record(r.id).Int(r.a).CString(r.name).Float(r.f).Byte(r.b);
  }
  auto length = [](const Row& r) {
    return static_cast<std::int32_t>(4 + r.name.size() + 1 + 4 + 1);
  };
  for (std::size_t row = 0; row < 3; ++row) {
    const Row& r = rows[row];
    const DBParam_t keys[] = {
        IntKey(0, r.id),  IntKey(1, length(r)),
        IntKey(2, r.a),   TextKey(3, r.name),
        FloatKey(4, r.f), IntKey(5, static_cast<signed char>(r.b))};
    const std::int32_t key_types[] = {0, 0, 0, 5, 2, 4};
    for (std::int32_t k = 0; k < 6; ++k) {
      for (std::int32_t res = 0; res < 6; ++res) {
        SCOPED_TRACE("row " + std::to_string(row) + " key " +
                     std::to_string(k) + " result " + std::to_string(res));
        DBParam_t key = keys[k];
        DBParam_t result = Param(res);
        ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
        EXPECT_EQ(key_types[k], key.type);
        EXPECT_TRUE(SameValues(keys[k], key));  // the key's values stay
        DBParam_t want = Param(res);
        want.type = key_types[res];
        switch (res) {
          case 0:
            want.intValue = r.id;
            break;
          case 1:
            want.intValue = length(r);
            break;
          case 2:
            want.intValue = r.a;
            break;
          case 3:
            want.strValue += r.name;
            break;
          case 4:
            want.floatValue = r.f;
            break;
          case 5:
            want.intValue = static_cast<signed char>(r.b);
            break;
        }
        EXPECT_TRUE(Same(want, result));
      }
    }
  }
}

TEST_F(WDBFileWrapperTest, FieldsAfterTextsOfAnyLengthAreFound) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeCString), Field(selvane::kTypeCString),
              Field(selvane::kTypeCString), Field(selvane::kTypeInteger)});
  // The last texts are longer than the read window.
  const std::vector<std::vector<std::string>> texts = {
      {"", "", ""},
      {"a", std::string(20, 'b'), "ccc"},
      {std::string(300, 'd'), "", std::string(70000, 'e')},
      {std::string(100000, 'f'), "g", ""},
  };
  WdbBuilder wdb;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    wdb.Record(static_cast<std::int32_t>(i));
    for (const std::string& t : texts[i]) wdb.CString(t);
    wdb.Int(static_cast<std::int32_t>(1000 + i));
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    for (std::int32_t res = 2; res < 5; ++res) {
      SCOPED_TRACE(std::to_string(i) + "/" + std::to_string(res));
      DBParam_t key = IntKey(5, static_cast<std::int32_t>(1000 + i));
      DBParam_t result = Param(res);
      result.strValue.clear();
      ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
      EXPECT_EQ(texts[i][static_cast<std::size_t>(res - 2)], result.strValue);
    }
  }
}

TEST_F(WDBFileWrapperTest, AmountIsSteppedOverWithItsSkipbytes) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeAmount, 4, 3), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).Int(500).Raw("\x01\x02\x03").Int(99);
  wdb.Record(2).Int(600).Raw("\x04\x05\x06").Int(98);
  DBParam_t key = IntKey(3, 98);
  DBParam_t result = Param(0);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(2, result.intValue);

  // An amount has no value of its own here, as key or as result.
  key = IntKey(2, 500);
  result = Param(0);
  EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(selvane::kTypeAmount, key.type);
  key = IntKey(0, 2);
  result = Param(2);
  EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(selvane::kTypeAmount, result.type);
  EXPECT_TRUE(SameValues(Param(2), result));
}

TEST_F(WDBFileWrapperTest, BytesAreWidenedWithTheirSign) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeByte, 1), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).Byte(0xC8).Int(11);
  wdb.Record(2).Byte(0xFF).Int(22);
  wdb.Record(3).Byte(0x7F).Int(33);
  struct Case {
    std::int32_t key;
    int status;
    std::int32_t id;
  };
  const Case cases[] = {{-56, 0, 1},  {200, -1, 0}, {-1, 0, 2},
                        {255, -1, 0}, {127, 0, 3},  {-129, -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    DBParam_t key = IntKey(2, c.key);
    DBParam_t result = Param(0);
    EXPECT_EQ(c.status, Ask(wdb.bytes(), fields, key, result));
    if (c.status == 0) {
      EXPECT_EQ(c.id, result.intValue);
    }
  }
  for (std::int32_t id : {1, 2}) {
    DBParam_t key = IntKey(0, id);
    DBParam_t result = Param(2);
    ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
    EXPECT_EQ(id == 1 ? -56 : -1, result.intValue);
    EXPECT_EQ(selvane::kTypeByte, result.type);
  }
}

TEST_F(WDBFileWrapperTest, FloatsCompareAsIeeeValues) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeFloat), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).Float(nan).Int(11);
  wdb.Record(2).Float(0.0f).Int(22);
  wdb.Record(3).Float(-0.0f).Int(33);
  wdb.Record(4).Float(0.1f).Int(44);
  struct Case {
    float key;
    int status;
    std::int32_t found;
  };
  const Case cases[] = {{nan, -1, 0},
                        {-0.0f, 0, 22},  // -0 matches +0, first in order
                        {0.0f, 0, 22},
                        {0.1f, 0, 44},
                        {0.1000001f, -1, 0}};  // no tolerance
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    DBParam_t key = FloatKey(2, c.key);
    DBParam_t result = Param(3);
    EXPECT_EQ(c.status, Ask(wdb.bytes(), fields, key, result));
    if (c.status == 0) {
      EXPECT_EQ(c.found, result.intValue);
    }
  }
  DBParam_t key = IntKey(0, 1);
  DBParam_t result = Param(2);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_TRUE(std::isnan(result.floatValue));
  key = IntKey(0, 3);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_TRUE(std::signbit(result.floatValue));  // stored as it stands
}

TEST_F(WDBFileWrapperTest, TypesWithoutValueEndTheQueryAndStayInType) {
  WdbBuilder wdb;
  wdb.Record(1).Int(10).Int(20);
  wdb.Record(2).Int(30).Int(40);
  for (std::int32_t type : std::initializer_list<std::int32_t>{
           selvane::kTypeString, selvane::kTypeBit, selvane::kTypeAmount,
           selvane::kTypeNone, 42}) {
    SCOPED_TRACE(type);
    const selvane::FieldMap fields =
        Fields({Field(type), Field(selvane::kTypeInteger)});
    // As key: at the first record, whatever the value.
    DBParam_t key = IntKey(2, 30);
    DBParam_t result = Param(3);
    EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
    EXPECT_EQ(type, key.type);
    EXPECT_TRUE(Same(Param(3), result));
    // As result: once a record matched.
    key = IntKey(3, 40);
    result = Param(2);
    EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
    EXPECT_EQ(selvane::kTypeInteger, key.type);
    EXPECT_EQ(type, result.type);
    EXPECT_TRUE(SameValues(Param(2), result));
  }
}

TEST_F(WDBFileWrapperTest, KeyThatNoRecordHoldsLeavesTheResultAlone) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeCString), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).CString("one").Int(10);
  wdb.Record(2).CString("two").Int(20);
  const DBParam_t keys[] = {IntKey(0, 3),        IntKey(1, 999),
                            TextKey(2, "three"), TextKey(2, "on"),
                            TextKey(2, "one "),  IntKey(3, 30)};
  const std::int32_t key_types[] = {99, 99, 5, 5, 5, 0};  // 99: untouched
  for (std::size_t i = 0; i < 6; ++i) {
    for (std::int32_t res = 0; res < 4; ++res) {
      SCOPED_TRACE(std::to_string(i) + "/" + std::to_string(res));
      DBParam_t key = keys[i];
      DBParam_t result = Param(res);
      EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
      EXPECT_TRUE(Same(Param(res), result));
      EXPECT_EQ(key_types[i], key.type);
    }
  }
}

TEST_F(WDBFileWrapperTest, ScanOrderAndOrdinaryOddRecords) {
  const selvane::FieldMap fields = Fields({Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(0);  // entry id 0, data length 0
  wdb.Record(5).Int(50);
  wdb.Record(6).Int(50);  // same key as the one before
  DBParam_t key = IntKey(2, 50);
  key.type = selvane::kTypeFloat;  // what the host puts there is not used
  DBParam_t result = Param(0);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(5, result.intValue);
  EXPECT_EQ(selvane::kTypeInteger, key.type);

  key = IntKey(0, 0);
  result = Param(1);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(0, result.intValue);
  key = IntKey(1, 0);
  result = Param(0);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(0, result.intValue);
}

TEST_F(WDBFileWrapperTest, ResultTextIsAppended) {
  const selvane::FieldMap fields = Fields({Field(selvane::kTypeCString)});
  WdbBuilder wdb;
  wdb.Record(1).CString("text");
  DBParam_t key = IntKey(0, 1);
  DBParam_t result = Param(2);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ("pretext", result.strValue);
  EXPECT_EQ(selvane::kTypeCString, result.type);
  EXPECT_EQ(-12345, result.intValue);
}

TEST_F(WDBFileWrapperTest, WalkReadsOnPastItsRecord) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeInteger), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).Int(11);  // one field short
  wdb.Record(2).Int(22).Int(33);
  wdb.Record(3).Int(44);  // short, and nothing follows
  DBParam_t key = IntKey(0, 1);
  DBParam_t result = Param(3);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(2, result.intValue);  // the next record's entry id
  // The next record is still found from the data length.
  key = IntKey(2, 22);
  ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(33, result.intValue);
  key = IntKey(0, 3);
  result = Param(3);
  EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(selvane::kTypeInteger, result.type);
  EXPECT_TRUE(SameValues(Param(3), result));

  // A negative size walks back: here onto the record's own entry id.
  const selvane::FieldMap back =
      Fields({Field(selvane::kTypeInteger, -8), Field(selvane::kTypeInteger)});
  key = IntKey(3, 2);
  result = Param(1);
  ASSERT_EQ(0, Ask(wdb.bytes(), back, key, result));
  EXPECT_EQ(8, result.intValue);
}

// --- Files the scan must survive -------------------------------------------

TEST_F(WDBFileWrapperTest, DataLengthOfMinusEightOrLessEndsTheScan) {
  const selvane::FieldMap fields = Fields({Field(selvane::kTypeInteger)});
  for (std::int32_t length : {-8, -9, -28, -100, kInt32Min}) {
    SCOPED_TRACE(length);
    WdbBuilder wdb;
    wdb.Record(1).Int(10);
    wdb.Record(2).Int(20).Length(length);
    wdb.Record(3).Int(30);
    // Without the bound this would repeat or go back for ever.
    DBParam_t key = IntKey(0, 3);
    DBParam_t result = Param(2);
    EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
    EXPECT_TRUE(Same(Param(2), result));
    // The record itself can still be the answer.
    key = IntKey(0, 2);
    result = Param(1);
    ASSERT_EQ(0, Ask(wdb.bytes(), fields, key, result));
    EXPECT_EQ(length, result.intValue);
  }
}

TEST_F(WDBFileWrapperTest, PositionsBeyondTwoGibibytesEndTheQuery) {
  const selvane::FieldMap fields = Fields(
      {Field(selvane::kTypeInteger, kInt32Max),
       Field(selvane::kTypeInteger, kInt32Max), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  wdb.Record(1).Int(10).Int(20).Int(30);
  wdb.Record(2).Int(40).Length(kInt32Max);  // next start past 2^31-1
  wdb.Record(3);
  struct Case {
    DBParam_t key;
    std::int32_t result;
  };
  const Case cases[] = {
      {IntKey(0, 3), 0},   // record start out of range
      {IntKey(4, 30), 0},  // the walk leaves the range
      {IntKey(0, 1), 4},   // so does the result's walk
  };
  for (const Case& c : cases) {
    DBParam_t key = c.key;
    DBParam_t result = Param(c.result);
    EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
    EXPECT_TRUE(SameValues(Param(c.result), result));
  }
  // A start of exactly 2^31-1 is a position; the read there fails.
  WdbBuilder edge;
  edge.Record(1).Length(kInt32Max - 28);
  DBParam_t key = IntKey(0, 2);
  DBParam_t result = Param(0);
  EXPECT_EQ(-1, Ask(edge.bytes(), fields, key, result));
}

TEST_F(WDBFileWrapperTest, FailedTextResultRestoresTheOldText) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeInteger), Field(selvane::kTypeCString)});
  WdbBuilder wdb;
  wdb.Record(1).Int(10).Raw("no end");
  DBParam_t key = IntKey(2, 10);
  DBParam_t result = Param(3);
  EXPECT_EQ(-1, Ask(wdb.bytes(), fields, key, result));
  EXPECT_EQ(selvane::kTypeCString, result.type);
  EXPECT_EQ("pre", result.strValue);
}

TEST_F(WDBFileWrapperTest, TruncatedFilesAnswerRightOrNotAtAll) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeCString), Field(selvane::kTypeInteger),
              Field(selvane::kTypeAmount, 4, 2), Field(selvane::kTypeFloat),
              Field(selvane::kTypeByte, 1)});
  WdbBuilder wdb;
  const char* names[] = {"first", "", "third record", "4"};
  for (std::int32_t i = 0; i < 4; ++i) {
    wdb.Record(100 + i)
        .CString(names[i])
        .Int(10 * i)
        .Int(-i)
        .Raw("..")
        .Float(0.25f * static_cast<float>(i))
        .Byte(static_cast<std::uint8_t>(0xF0 + i));
  }
  const std::string full = wdb.bytes();
  struct Case {
    DBParam_t key;
    DBParam_t want;  // the result after a successful query
  };
  std::vector<Case> cases;
  auto want = [](std::int32_t index, std::int32_t type) {
    DBParam_t w = Param(index);
    w.type = type;
    return w;
  };
  cases.push_back({IntKey(0, 102), want(2, selvane::kTypeCString)});
  cases.back().want.strValue += "third record";
  cases.push_back({IntKey(3, 30), want(5, selvane::kTypeFloat)});
  cases.back().want.floatValue = 0.75f;
  cases.push_back({TextKey(2, ""), want(6, selvane::kTypeByte)});
  cases.back().want.intValue = -15;
  cases.push_back(
      {IntKey(1, 4 + 2 + 4 + 2 + 4 + 1), want(0, selvane::kTypeInteger)});
  cases.back().want.intValue = 103;
  cases.push_back({FloatKey(5, 0.5f), want(2, selvane::kTypeCString)});
  cases.back().want.strValue += "third record";

  std::vector<bool> answered(cases.size(), false);
  for (std::size_t length = 0; length <= full.size(); ++length) {
    const std::wstring path = Write(full.substr(0, length));
    for (std::size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE("length " + std::to_string(length) + " case " +
                   std::to_string(i));
      CWDBFileWrapper reader;
      const int opened = reader.Open(path);
      ASSERT_EQ(length < 20 ? -1 : 0, opened);
      if (opened != 0) continue;
      ASSERT_EQ(0, reader.SetDefinition(&fields));
      DBParam_t key = cases[i].key;
      DBParam_t result = Param(cases[i].want.fieldIndex);
      const int status = reader.Query(key, result);
      ASSERT_TRUE(status == 0 || status == -1) << status;
      if (status == 0) {
        EXPECT_TRUE(Same(cases[i].want, result));
        answered[i] = true;
      } else {
        EXPECT_TRUE(SameValues(Param(cases[i].want.fieldIndex), result));
        // More bytes never take an answer away.
        EXPECT_FALSE(answered[i]);
      }
    }
  }
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_TRUE(answered[i]) << i;
}

TEST_F(WDBFileWrapperTest, ScanAcrossManyWindowsFindsEveryRecord) {
  // Records straddle window boundaries, so the seek back to a record's data
  // for the result often lands before the window the key was read from.
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeCString), Field(selvane::kTypeInteger)});
  WdbBuilder wdb;
  const int kRecords = 50000;
  auto text = [](int i) {
    return std::string(static_cast<std::size_t>(5 + (i * 7919) % 60),
                       static_cast<char>('a' + i % 26));
  };
  for (int i = 0; i < kRecords; ++i) wdb.Record(i).CString(text(i)).Int(3 * i);
  ASSERT_GT(wdb.size(), 8 * CWDBFileWrapper::kWindowCapacity);
  CWDBFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
  ASSERT_EQ(0, reader.SetDefinition(&fields));
  for (int i = 0; i < kRecords; i += 997) {
    for (int target : {i, kRecords - 1}) {
      DBParam_t key = IntKey(3, 3 * target);
      DBParam_t result = Param(2);
      result.strValue.clear();
      ASSERT_EQ(0, reader.Query(key, result)) << target;
      EXPECT_EQ(text(target), result.strValue);
    }
  }
}

// Keys of one record of the file below.
struct RefillRow {
  std::string name;
  std::int8_t small;
  std::int32_t number;
  float ratio;
  std::string tail;
};

// The cursor asked as the reader asks it, over a window whose refills start
// at 4 KiB and double, as for a source that does not tell its size.
int AskThroughRefills(const std::string& bytes, const selvane::FieldMap& fields,
                      DBParam_t& key, DBParam_t& result) {
  UntoldSource source(bytes);
  CReadWindow window(CWDBFileWrapper::kWindowCapacity);
  window.Reset(&source);
  CWdbCursor cursor(&window);
  WDBHeader_t header;
  if (cursor.ReadHeader(&header) != 0) return -1;
  const CWdbField key_field(fields, key.fieldIndex);
  const CWdbField result_field(fields, result.fieldIndex);
  WdbRecord found;
  if (cursor.Find(key_field, key, &found) != 0) return -1;
  result.type = result_field.type();
  return cursor.Store(found, result_field, result);
}

TEST_F(WDBFileWrapperTest, KeysOfEveryTypeAreFoundAcrossEveryRefill) {
  // The reader reads a file this small at once; the cursor over refills
  // that start small and double sees the first records cross a refill edge
  // every few kilobytes. The first record's text grows one byte per round,
  // which shifts every later byte across those edges: each part of a record
  // (framing words, texts, their terminators, key values) lies on an edge
  // in some round. Every record is asked for by each of its keys, of both,
  // and must answer with the first record holding that value.
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeCString), Field(selvane::kTypeByte, 1),
              Field(selvane::kTypeAmount, 2, 3), Field(selvane::kTypeInteger),
              Field(selvane::kTypeFloat), Field(selvane::kTypeCString)});
  for (int shift = 0; shift < 64; ++shift) {
    SCOPED_TRACE(shift);
    std::vector<RefillRow> rows;
    WdbBuilder wdb;
    for (int i = 0; wdb.size() < 13 * 1024; ++i) {
      const int length = i == 0 ? 1 + shift : 1 + (i * 37) % 29;
      RefillRow row{std::string(static_cast<std::size_t>(length),
                                static_cast<char>('a' + i % 26)),
                    static_cast<std::int8_t>(i % 200 - 100), 1000 - 3 * i,
                    static_cast<float>(i) / 4.0f, "t" + std::to_string(i % 50)};
      wdb.Record(i + 1)
          .CString(row.name)
          .Byte(static_cast<std::uint8_t>(row.small))
          .Raw("AABBB")
          .Int(row.number)
          .Float(row.ratio)
          .CString(row.tail);
      rows.push_back(row);
    }
    CWDBFileWrapper reader;
    ASSERT_EQ(0, reader.Open(Write(wdb.bytes())));
    ASSERT_EQ(0, reader.SetDefinition(&fields));
    // Number of the first record for which same(row) holds.
    auto first = [&rows](auto same) {
      return static_cast<std::int32_t>(
                 std::find_if(rows.begin(), rows.end(), same) - rows.begin()) +
             1;
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const RefillRow& row = rows[i];
      const auto self = static_cast<std::int32_t>(i) + 1;
      const std::pair<DBParam_t, std::int32_t> asks[] = {
          {TextKey(2, row.name),
           first([&](const RefillRow& r) { return r.name == row.name; })},
          {IntKey(3, row.small),
           first([&](const RefillRow& r) { return r.small == row.small; })},
          {IntKey(5, row.number), self},
          {FloatKey(6, row.ratio), self},
          {TextKey(7, row.tail),
           first([&](const RefillRow& r) { return r.tail == row.tail; })},
          {IntKey(0, self), self},
      };
      for (const auto& ask : asks) {
        DBParam_t key = ask.first;
        DBParam_t result = Param(0);
        ASSERT_EQ(0, reader.Query(key, result))
            << "record " << self << " key " << key.fieldIndex;
        ASSERT_EQ(ask.second, result.intValue)
            << "record " << self << " key " << key.fieldIndex;
        key = ask.first;
        result = Param(0);
        ASSERT_EQ(0, AskThroughRefills(wdb.bytes(), fields, key, result))
            << "refills: record " << self << " key " << key.fieldIndex;
        ASSERT_EQ(ask.second, result.intValue)
            << "refills: record " << self << " key " << key.fieldIndex;
      }
    }
  }
}

}  // namespace

// --- Speed, run on demand ----------------------------------------------------
//
// Release build, then:
//   wdb_reader_tests --gtest_also_run_disabled_tests --gtest_filter='*Speed*'
// Times a lookup of the last of 1,000,000 records against the floor of
// reading the file with one read call and walking it in memory, alternated
// in one run, best of several.

namespace {

constexpr int kSpeedRecords = 1000000;

std::string SpeedText(int i) {
  return std::string(static_cast<std::size_t>(5 + (i * 7) % 16),
                     static_cast<char>('a' + i % 26));
}

// The floor: the whole file in one read into a buffer that is ready and
// already touched, then the same walk in memory.
float FloorLookup(const std::string& path, std::vector<char>& buffer,
                  std::int32_t key_index, std::int32_t key) {
  std::ifstream in(path, std::ios::binary);
  in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  const auto size = static_cast<std::size_t>(in.gcount());
  const char* p = buffer.data();
  std::size_t pos = 20;
  while (pos + 8 <= size) {
    std::int32_t id, length, second;
    std::memcpy(&id, p + pos, 4);
    std::memcpy(&length, p + pos + 4, 4);
    const char* f = p + pos + 8;
    f = static_cast<const char*>(std::memchr(f, 0, size - pos - 8)) + 1;
    if (key_index == 0 ? id == key
                       : (std::memcpy(&second, f + 4, 4), second == key)) {
      float value;
      std::memcpy(&value, f + 8 + 4 + 2, 4);
      return value;
    }
    pos += 8 + static_cast<std::size_t>(length);
  }
  return -1.0f;
}

}  // namespace

TEST_F(WDBFileWrapperTest, DISABLED_SpeedOfLastRecordLookup) {
  const selvane::FieldMap fields =
      Fields({Field(selvane::kTypeCString), Field(selvane::kTypeInteger),
              Field(selvane::kTypeInteger), Field(selvane::kTypeAmount, 4, 2),
              Field(selvane::kTypeFloat)});
  WdbBuilder wdb;
  for (int i = 0; i < kSpeedRecords; ++i) {
    wdb.Record(i).CString(SpeedText(i)).Int(i).Int(2 * i).Int(7).Raw("..");
    wdb.Float(static_cast<float>(i) + 0.5f);
  }
  const std::string path = dir_.Write("speed.wdb", wdb.bytes());
  const std::int32_t last = kSpeedRecords - 1;
  const float want = static_cast<float>(last) + 0.5f;
  std::cout << "file " << wdb.size() << " bytes, window "
            << CWDBFileWrapper::kWindowCapacity << " bytes\n";

  std::vector<char> buffer(wdb.size(), '\1');
  using Clock = std::chrono::steady_clock;
  for (std::int32_t key_index : {0, 4}) {
    const std::int32_t key_value = key_index == 0 ? last : 2 * last;
    double best_reader = 1e9, best_floor = 1e9;
    for (int round = 0; round < 7; ++round) {
      auto t0 = Clock::now();
      CWDBFileWrapper reader;
      DBParam_t key = IntKey(key_index, key_value);
      DBParam_t result = Param(6);
      ASSERT_EQ(0, reader.Open(Widen(path)));
      ASSERT_EQ(0, reader.SetDefinition(&fields));
      ASSERT_EQ(0, reader.Query(key, result));
      auto t1 = Clock::now();
      ASSERT_EQ(want, result.floatValue);
      const float floor_value = FloorLookup(path, buffer, key_index, key_value);
      auto t2 = Clock::now();
      ASSERT_EQ(want, floor_value);
      best_reader =
          std::min(best_reader,
                   std::chrono::duration<double, std::milli>(t1 - t0).count());
      best_floor =
          std::min(best_floor,
                   std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    std::cout << "key index " << key_index << ": reader " << best_reader
              << " ms, one-read floor " << best_floor << " ms, ratio "
              << best_reader / best_floor << "\n";
    EXPECT_LE(best_reader, 2.0 * best_floor);
  }
}
