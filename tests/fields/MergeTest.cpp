// How loads combine: replacement of whole tables by name and of fields by
// position, within one document and across documents.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include "tests/fields/FieldsTestUtil.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

class MergeTest : public ::testing::Test {
 protected:
  int Load(const DefinitionBuilder& builder, const std::string& name) {
    return manager_.LoadDefinitions(builder.WriteTo(dir_, name));
  }

  TempDir dir_;
  selvane::CDBFieldManager manager_;
};

TEST_F(MergeTest, LaterDocumentReplacesSameNamesAndKeepsOthers) {
  DefinitionBuilder a;
  a.Table("P.dbc").Note("P from A").Field("p", {{"position", "0"}});
  a.Table("Q.dbc")
      .Note("Q from A")
      .Field("q0", {{"position", "0"}, {"size", "4"}})
      .Field("q1", {{"position", "1"}, {"size", "4"}});
  DefinitionBuilder b("WDBFile");
  b.Table("Q.dbc").Note("Q from B").Field("n1", {{"position", "1"}});
  b.Table("R.wdb").Field("r", {{"position", "0"}});

  ASSERT_EQ(0, Load(a, "a.xml"));
  const selvane::FieldMap* pBefore = manager_.FindFields("P.dbc");
  ASSERT_EQ(0, Load(b, "b.xml"));

  EXPECT_EQ(File("P from A", MapOf({Attr("p", 0, -1, 0)})),
            *manager_.FindFile("P.dbc"));
  // Q is B's alone: A's field at position 0 is gone, not merged.
  EXPECT_EQ(File("Q from B", MapOf({Attr("n1", 1, -1, 0)})),
            *manager_.FindFile("Q.dbc"));
  EXPECT_EQ(File("[NONE]", MapOf({Attr("r", 0, -1, 0)})),
            *manager_.FindFile("R.wdb"));
  // A definition that was not redefined stays where it was.
  EXPECT_EQ(pBefore, manager_.FindFields("P.dbc"));
}

TEST_F(MergeTest, RedefinitionWithoutFieldsEmptiesTheTable) {
  DefinitionBuilder first;
  first.Table("T.dbc").Note("old").Field("x", {{"position", "0"}});
  DefinitionBuilder second;
  second.Table("T.dbc");
  ASSERT_EQ(0, Load(first, "first.xml"));
  ASSERT_EQ(0, Load(second, "second.xml"));
  EXPECT_EQ(File("[NONE]", {}), *manager_.FindFile("T.dbc"));
}

TEST_F(MergeTest, SameNameTwiceInOneDocumentKeepsTheSecond) {
  DefinitionBuilder builder;
  builder.Table("T.dbc").Note("one").Field("a", {{"position", "0"}});
  builder.Table("U.dbc").Note("between");
  builder.Table("T.dbc").Note("two").Field("b", {{"position", "1"}});
  builder.Table("V.dbc").Note("first V").Field("v", {{"position", "0"}});
  builder.Table("V.dbc");
  ASSERT_EQ(0, Load(builder, "defs.xml"));
  EXPECT_EQ(File("two", MapOf({Attr("b", 1, -1, 0)})),
            *manager_.FindFile("T.dbc"));
  EXPECT_EQ(File("between", {}), *manager_.FindFile("U.dbc"));
  EXPECT_EQ(File("[NONE]", {}), *manager_.FindFile("V.dbc"));
}

TEST_F(MergeTest, SamePositionReplacesTheWholeField) {
  DefinitionBuilder builder;
  builder.Table("T.dbc")
      .Field("old", {{"position", "2"}, {"type", "float"}, {"size", "4"}})
      .Field("other", {{"position", "3"}})
      .Field("", {{"position", "02"}});
  ASSERT_EQ(0, Load(builder, "defs.xml"));
  EXPECT_EQ(MapOf({Attr("Undef_02", 2, -1, 0), Attr("other", 3, -1, 0)}),
            *manager_.FindFields("T.dbc"));
}

TEST_F(MergeTest, FieldsWithoutPositionShareMinusOne) {
  DefinitionBuilder builder;
  builder.Table("T.dbc")
      .Field("a", {{"size", "1"}})
      .Field("b", {{"size", "2"}})
      .Field("", {{"type", "byte"}});
  ASSERT_EQ(0, Load(builder, "defs.xml"));
  EXPECT_EQ(MapOf({Attr("", -1, 4, 0)}), *manager_.FindFields("T.dbc"));
}

TEST_F(MergeTest, BothRootsFeedOneSetOfDefinitions) {
  DefinitionBuilder dbc("DBCFile");
  dbc.Table("Shared.dbc").Field("d", {{"position", "0"}});
  DefinitionBuilder wdb("WDBFile");
  wdb.Table("Cache.wdb").Field("w", {{"position", "0"}});
  ASSERT_EQ(0, Load(dbc, "dbc.xml"));
  ASSERT_EQ(0, Load(wdb, "wdb.xml"));
  EXPECT_NE(nullptr, manager_.FindFields("Shared.dbc"));
  EXPECT_NE(nullptr, manager_.FindFields("Cache.wdb"));
}

TEST_F(MergeTest, ReloadingTheSameFileGivesTheSameDefinitions) {
  DefinitionBuilder builder;
  builder.Table("T.dbc").Note("n").Field("a", {{"position", "0"}});
  ASSERT_EQ(0, Load(builder, "defs.xml"));
  const auto once = Snapshot(manager_, {"T.dbc"});
  ASSERT_EQ(0, Load(builder, "defs.xml"));
  EXPECT_EQ(once, Snapshot(manager_, {"T.dbc"}));
}

}  // namespace
