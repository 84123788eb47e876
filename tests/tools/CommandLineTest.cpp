#include "tools/CommandLine.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "tools/Output.h"

namespace {

struct KeyValueCase {
  const char* text;
  std::int32_t intValue;
  float floatValue;
};

TEST(KeyValueTest, OffersEveryMember) {
  const KeyValueCase cases[] = {
      {"42", 42, 42.0f},
      {"-56", -56, -56.0f},
      {"0x10", 16, 16.0f},
      {"0xFFFFFFFF", -1, 4294967296.0f},
      {"0x7fffffff", 2147483647, 2147483648.0f},
      {"2147483647", 2147483647, 2147483648.0f},
      {"2147483648", 0, 2147483648.0f},  // no int32: numeric int stays 0
      {"-2147483648", std::numeric_limits<std::int32_t>::min(), -2147483648.0f},
      {"0x100000000", 0, 4294967296.0f},
      {"1.5", 0, 1.5f},
      {"Fireball", 0, 0.0f},
      {"12abc", 0, 0.0f},
      {"", 0, 0.0f},
      {" 7", 0, 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const KeyValue v = ParseKeyValue(c.text);
    EXPECT_EQ(v.intValue, c.intValue);
    EXPECT_EQ(v.floatValue, c.floatValue);
    EXPECT_EQ(v.strValue, c.text);
  }
}

bool Parse(std::vector<std::string> args, LookupRequest* r,
           std::string* error = nullptr) {
  bool help = false;
  std::string e;
  const bool ok = ParseCommandLine(args, r, &help, error ? error : &e);
  EXPECT_FALSE(help);
  return ok;
}

TEST(CommandLineTest, ParsesBothCommands) {
  LookupRequest r;
  ASSERT_TRUE(Parse({"wdb", "--defs", "a.xml", "--defs", "b.xml", "--file",
                     "x.wdb", "--key", "2=Axe=Big", "--result", "3", "--json"},
                    &r));
  EXPECT_EQ(r.kind, LookupRequest::Kind::kWdb);
  EXPECT_EQ(r.definitions, (std::vector<std::string>{"a.xml", "b.xml"}));
  EXPECT_EQ(r.file, "x.wdb");
  EXPECT_EQ(r.keyField, "2");
  EXPECT_EQ(r.keyValue, "Axe=Big");  // only the first '=' splits
  EXPECT_EQ(r.resultField, "3");
  EXPECT_EQ(r.mode, LookupRequest::Mode::kLookup);
  EXPECT_TRUE(r.json);

  LookupRequest d;
  ASSERT_TRUE(Parse({"dbc", "--defs", "a.xml", "--archive", "p.mpq",
                     "--archive", "d.mpq", "--table", "Tables\\Items.dbc",
                     "--key", "Name=", "--result", "Id", "--all"},
                    &d));
  EXPECT_EQ(d.kind, LookupRequest::Kind::kDbc);
  EXPECT_EQ(d.archives, (std::vector<std::string>{"p.mpq", "d.mpq"}));
  EXPECT_EQ(d.keyField, "Name");
  EXPECT_EQ(d.resultField, "Id");
  EXPECT_TRUE(d.all);
  EXPECT_EQ(d.table, "Tables\\Items.dbc");
  EXPECT_EQ(d.keyValue, "");
  EXPECT_FALSE(d.json);
}

TEST(CommandLineTest, RefusesBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"csv"},
      {"wdb", "--file", "x", "--key", "0=1", "--result", "1"},  // no --defs
      {"wdb", "--defs", "d", "--key", "0=1", "--result", "1"},  // no --file
      {"wdb", "--defs", "d", "--file", "x", "--result", "1"},   // no --key
      {"wdb", "--defs", "d", "--file", "x", "--key", "0=1"},    // no --result
      {"wdb", "--defs", "d", "--file", "x", "--key", "01", "--result", "1"},
      {"wdb", "--defs", "d", "--file", "x", "--key", "=1", "--result", "1"},
      {"wdb", "--defs", "d", "--file", "x", "--key", "0", "--keys-from", "k"},
      {"wdb", "--defs", "d", "--file", "x", "--key", "0=1", "--keys-from", "k",
       "--result", "1"},
      {"wdb", "--defs", "d", "--file", "x", "--key", "0", "--keys-from", "k",
       "--result", "1", "--all"},
      {"wdb", "--defs", "d", "--file", "x", "--dump", "--key", "0=1"},
      {"wdb", "--defs", "d", "--file", "x", "--dump", "--format", "xml"},
      {"wdb", "--defs", "d", "--file", "x", "--dump", "--keys-from", "k"},
      {"wdb", "--defs", "d", "--file", "x", "--key", "0=1", "--result", "1",
       "--fields", "a,b"},
      {"wdb", "--defs", "d", "--file", "x", "--key", "0=1", "--result"},
      {"wdb", "--defs", "d", "--archive", "x", "--key", "0=1", "--result", "1"},
      {"dbc", "--defs", "d", "--archive", "x", "--key", "0=1", "--result", "1"},
      {"dbc", "--defs", "d", "--file", "x", "--table", "t", "--key", "0=1",
       "--result", "1"},
      {"wdb", "--defs", "d", "--file", "x", "--key", "0=1", "--result", "1",
       "--verbose"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    LookupRequest r;
    std::string error;
    EXPECT_FALSE(Parse(args, &r, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(CommandLineTest, ParsesKeyListsAndDumps) {
  LookupRequest k;
  ASSERT_TRUE(Parse({"wdb", "--defs", "d", "--file", "x", "--key", "Id",
                     "--keys-from", "-", "--result", "Name"},
                    &k));
  EXPECT_EQ(k.mode, LookupRequest::Mode::kKeysFrom);
  EXPECT_EQ(k.keysFrom, "-");
  EXPECT_EQ(k.keyField, "Id");

  LookupRequest d;
  ASSERT_TRUE(Parse({"wdb", "--defs", "d", "--file", "x", "--dump", "--format",
                     "jsonl", "--fields", "Id,3,Name"},
                    &d));
  EXPECT_EQ(d.mode, LookupRequest::Mode::kDump);
  EXPECT_EQ(d.format, LookupRequest::Format::kJsonl);
  EXPECT_EQ(d.fields, (std::vector<std::string>{"Id", "3", "Name"}));
}

struct TypedCase {
  const char* text;
  KeyKind kind;
  bool ok;
  std::int32_t intValue;
  float floatValue;
};

TEST(KeyValueTest, ReadsTheKeyFieldsType) {
  const TypedCase cases[] = {
      {"42", KeyKind::kInteger, true, 42, 0.0f},
      {"0xFFFFFFFF", KeyKind::kInteger, true, -1, 0.0f},
      {"abc", KeyKind::kInteger, false, 0, 0.0f},
      {"1.5", KeyKind::kInteger, false, 0, 0.0f},
      {"", KeyKind::kInteger, false, 0, 0.0f},
      {"-128", KeyKind::kByte, true, -128, 0.0f},
      {"0xC8", KeyKind::kByte, true, -56, 0.0f},
      {"200", KeyKind::kByte, false, 0, 0.0f},
      {"0x100", KeyKind::kByte, false, 0, 0.0f},
      {"-2.5", KeyKind::kFloat, true, 0, -2.5f},
      {"1e-07", KeyKind::kFloat, true, 0, 1e-7f},
      {"1.5x", KeyKind::kFloat, false, 0, 0.0f},
      {"anything at all", KeyKind::kText, true, 0, 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t i = 0;
    float f = 0.0f;
    EXPECT_EQ(c.ok, ParseTypedKey(c.text, c.kind, &i, &f));
    if (c.ok) {
      EXPECT_EQ(c.intValue, i);
      EXPECT_EQ(c.floatValue, f);
    }
  }
  KeyKind kind;
  EXPECT_FALSE(KeyKindOf(1, false, &kind));  // WDB "string"
  EXPECT_TRUE(KeyKindOf(1, true, &kind));
  EXPECT_EQ(KeyKind::kText, kind);
  EXPECT_TRUE(KeyKindOf(5, false, &kind));
  EXPECT_EQ(KeyKind::kText, kind);
  EXPECT_TRUE(KeyKindOf(5, true, &kind));  // DBC "cstring" is an integer
  EXPECT_EQ(KeyKind::kInteger, kind);
  EXPECT_FALSE(KeyKindOf(6, false, &kind));
}

TEST(CommandLineTest, HelpWins) {
  LookupRequest r;
  bool help = false;
  std::string error;
  EXPECT_TRUE(ParseCommandLine({"wdb", "--help"}, &r, &help, &error));
  EXPECT_TRUE(help);
}

DBParam_t Result(int type, std::int32_t i, float f, std::string s) {
  DBParam_t r;
  r.type = type;
  r.intValue = i;
  r.floatValue = f;
  r.strValue = std::move(s);
  return r;
}

TEST(OutputTest, RendersByTypeAndTableKind) {
  struct Case {
    DBParam_t result;
    bool dbc;
    const char* plain;
    const char* json;
  };
  const Case cases[] = {
      {Result(0, 42, 0, "x"), false, "42", R"({"type":"integer","value":42})"},
      {Result(4, -56, 0, ""), true, "-56", R"({"type":"byte","value":-56})"},
      {Result(2, 0, 0.1f, ""), true, "0.1", R"({"type":"float","value":0.1})"},
      {Result(1, 7, 0, "Axe"), true, "Axe",
       R"({"type":"string","value":"Axe"})"},
      // A DBC "cstring" is an integer; a WDB one is text.
      {Result(5, 9, 0, "t"), true, "9", R"({"type":"cstring","value":9})"},
      {Result(5, 9, 0, "t"), false, "t", R"({"type":"cstring","value":"t"})"},
      {Result(2, 0, std::nanf(""), ""), false, "nan",
       R"({"type":"float","value":"nan"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plain);
    EXPECT_EQ(FormatPlain(c.result, c.dbc), c.plain);
    EXPECT_EQ(FormatJson(c.result, c.dbc), c.json);
  }
}

TEST(OutputTest, FloatsRoundTrip) {
  for (float f : {0.1f, 1.0f / 3.0f, -0.0f, 1e-45f, 3.4028235e38f, 16.0f}) {
    const std::string text = FormatFloat(f);
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), f) << text;
  }
  EXPECT_EQ(FormatFloat(-0.0f), "-0");
}

TEST(OutputTest, EscapesJsonText) {
  EXPECT_EQ(JsonString("a\"b\\c\n\t\x01"), R"("a\"b\\c\n\t\u0001")");
  EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");  // UTF-8 kept
  EXPECT_EQ(JsonString("caf\xE9"), R"("caf\u00e9")");       // Latin-1 byte
  EXPECT_EQ(JsonString("\xC3"), R"("\u00c3")");             // cut sequence
  EXPECT_EQ(JsonString("\xED\xA0\x80"),
            R"("\u00ed\u00a0\u0080")");  // surrogate
}

TEST(OutputTest, QuotesCsvFieldsAsRfc4180Asks) {
  EXPECT_EQ(CsvField("plain text"), "plain text");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
  EXPECT_EQ(CsvField(""), "");
}

}  // namespace
