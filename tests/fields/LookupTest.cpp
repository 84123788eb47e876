// Finding a table's definition by its exact, case-sensitive name.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include "tests/fields/FieldsTestUtil.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

TEST(LookupTest, FreshManagerFindsNothing) {
  const selvane::CDBFieldManager manager;
  for (const char* name : {"", "X.dbc", "[NONE]", "Undef_0"}) {
    EXPECT_EQ(nullptr, manager.FindFields(name)) << name;
    EXPECT_EQ(nullptr, manager.FindFile(name)) << name;
  }
}

TEST(LookupTest, OnlyTheExactNameMatches) {
  TempDir dir;
  DefinitionBuilder builder;
  builder.Table("X.dbc").Note("x").Field("f", {{"position", "0"}});
  builder.Table("Dir\\Y.dbc").Note("y");
  selvane::CDBFieldManager manager;
  ASSERT_EQ(0, manager.LoadDefinitions(builder.WriteTo(dir, "defs.xml")));

  const DBFile* file = manager.FindFile("X.dbc");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ("x", file->note);
  EXPECT_EQ(&file->fields, manager.FindFields("X.dbc"));
  ASSERT_NE(nullptr, manager.FindFields("Dir\\Y.dbc"));
  EXPECT_TRUE(manager.FindFields("Dir\\Y.dbc")->empty());

  for (const char* miss :
       {"x.dbc", "X.DBC", "X", "X.dbc ", " X.dbc", "Dir\\X.dbc", "dir/X.dbc",
        "Y.dbc", "Dir/Y.dbc", ""}) {
    EXPECT_EQ(nullptr, manager.FindFields(miss)) << miss;
    EXPECT_EQ(nullptr, manager.FindFile(miss)) << miss;
  }
}

TEST(LookupTest, NamesDifferingOnlyInCaseAreSeparateTables) {
  TempDir dir;
  DefinitionBuilder builder;
  builder.Table("Item.dbc").Note("upper");
  builder.Table("item.dbc").Note("lower");
  selvane::CDBFieldManager manager;
  ASSERT_EQ(0, manager.LoadDefinitions(builder.WriteTo(dir, "defs.xml")));
  ASSERT_NE(nullptr, manager.FindFile("Item.dbc"));
  ASSERT_NE(nullptr, manager.FindFile("item.dbc"));
  EXPECT_EQ("upper", manager.FindFile("Item.dbc")->note);
  EXPECT_EQ("lower", manager.FindFile("item.dbc")->note);
}

}  // namespace
