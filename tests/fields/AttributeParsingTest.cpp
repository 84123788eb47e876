// How field attributes turn into numbers, type codes and names.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "tests/fields/FieldsTestUtil.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

class AttributeParsingTest : public ::testing::Test {
 protected:
  // Loads one table "T.dbc" holding the given fields; returns its map.
  const selvane::FieldMap& LoadFields(const DefinitionBuilder& builder) {
    EXPECT_EQ(0, manager_.LoadDefinitions(builder.WriteTo(dir_, "defs.xml")));
    const selvane::FieldMap* fields = manager_.FindFields("T.dbc");
    EXPECT_NE(nullptr, fields);
    return fields != nullptr ? *fields : empty_;
  }

  TempDir dir_;
  selvane::CDBFieldManager manager_;
  selvane::FieldMap empty_;
};

struct NumberCase {
  const char* text;
  std::int32_t value;
};

const NumberCase kNumberCases[] = {
    {"0", 0},
    {"42", 42},
    {"-7", -7},
    {"+5", 5},
    {"07", 7},
    {"   12", 12},
    {"\t\n 9", 9},
    {"3abc", 3},
    {"abc", 0},
    {"", 0},
    {"-", 0},
    {"+", 0},
    {"- 5", 0},
    {"+-5", 0},
    {"--5", 0},
    {"12 34", 12},
    {"1.9", 1},
    {"0x10", 0},
    {"2147483647", kMax},
    {"2147483648", kMax},
    {"99999999999999999999999", kMax},
    {"-2147483647", -2147483647},
    {"-2147483648", kMin},
    {"-2147483649", kMin},
    {"-99999999999999999999999", kMin},
    {"0000000000000000000002147483647", kMax},
    {"-000000000000000000000000000042", -42},
};

TEST_F(AttributeParsingTest, NumbersReadLikeAtoiButSaturate) {
  for (const NumberCase& c : kNumberCases) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    DefinitionBuilder builder;
    builder.Table("T.dbc").Field(
        "F", {{"position", c.text}, {"size", c.text}, {"skipbyte", c.text}});
    const selvane::FieldMap& fields = LoadFields(builder);
    ASSERT_EQ(1u, fields.size());
    EXPECT_EQ(c.value, fields.begin()->first);
    EXPECT_EQ(Attr("F", c.value, -1, c.value, c.value), fields.begin()->second);
  }
}

TEST_F(AttributeParsingTest, UnnamedFieldIsNamedAfterPositionText) {
  for (const NumberCase& c : kNumberCases) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    DefinitionBuilder builder;
    builder.Table("T.dbc").Field("", {{"position", c.text}});
    const selvane::FieldMap& fields = LoadFields(builder);
    ASSERT_EQ(1u, fields.size());
    EXPECT_EQ(Attr(std::string("Undef_") + c.text, c.value, -1, 0),
              fields.begin()->second);
  }
}

TEST_F(AttributeParsingTest, TextWinsOverUndefNameWhateverTheOrder) {
  DefinitionBuilder builder;
  builder.Table("T.dbc")
      .Field("Named", {{"position", "0"}})
      .Field("", {{"type", "integer"}, {"position", "12"}})
      .Field("", {{"size", "4"}})  // no position: empty name, filed under -1
      .RawInFields("<Field position=\"5\"><b/>tail</Field>");
  EXPECT_EQ(MapOf({Attr("Named", 0, -1, 0), Attr("Undef_12", 12, 0, 0),
                   Attr("", -1, -1, 4), Attr("Undef_5", 5, -1, 0)}),
            LoadFields(builder));
}

TEST_F(AttributeParsingTest, DefaultsWithoutAttributes) {
  DefinitionBuilder builder;
  builder.Table("T.dbc").Field("Bare", {});
  EXPECT_EQ(MapOf({Attr("Bare", -1, -1, 0, 0)}), LoadFields(builder));
}

TEST_F(AttributeParsingTest, TypeKeywordsMatchExactly) {
  struct TypeCase {
    const char* keyword;
    std::int32_t code;
  };
  const TypeCase cases[] = {
      {"integer", 0}, {"string", 1},   {"float", 2},     {"bit", 3},
      {"byte", 4},    {"cstring", 5},  {"amount", 6},    {"Integer", -1},
      {"BYTE", -1},   {"int", -1},     {"integer ", -1}, {" float", -1},
      {"", -1},       {"strings", -1}, {"0", -1},        {"CString", -1},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(std::string("keyword \"") + c.keyword + "\"");
    DefinitionBuilder builder;
    builder.Table("T.dbc").Field("F", {{"position", "0"}, {"type", c.keyword}});
    const selvane::FieldMap& fields = LoadFields(builder);
    ASSERT_EQ(1u, fields.count(0));
    EXPECT_EQ(c.code, fields.at(0).type);
  }
}

TEST_F(AttributeParsingTest, OtherAttributesAreIgnored) {
  DefinitionBuilder builder;
  builder.Table("T.dbc").Field("F", {{"Position", "9"},
                                     {"position", "1"},
                                     {"SIZE", "3"},
                                     {"size", "2"},
                                     {"Type", "float"},
                                     {"skip", "8"},
                                     {"name", "other"}});
  EXPECT_EQ(MapOf({Attr("F", 1, -1, 2)}), LoadFields(builder));
}

TEST_F(AttributeParsingTest, AmountKeepsItsSkipCount) {
  DefinitionBuilder builder;
  builder.Table("T.dbc").Field("Count", {{"position", "3"},
                                         {"type", "amount"},
                                         {"size", "4"},
                                         {"skipbyte", "6"}});
  EXPECT_EQ(MapOf({Attr("Count", 3, 6, 4, 6)}), LoadFields(builder));
}

}  // namespace
