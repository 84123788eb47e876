// How the loader walks a definition document: roots, table elements, notes
// and the field elements inside "Fields".
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include "tests/fields/FieldsTestUtil.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

class DocumentStructureTest : public ::testing::Test {
 protected:
  int Load(const DefinitionBuilder& builder) {
    return manager_.LoadDefinitions(builder.WriteTo(dir_, "defs.xml"));
  }
  int LoadRaw(const std::string& xml) {
    return manager_.LoadDefinitions(
        DefinitionBuilder::WriteRaw(dir_, "raw.xml", xml));
  }

  TempDir dir_;
  selvane::CDBFieldManager manager_;
};

DefinitionBuilder SampleDocument(const std::string& root) {
  DefinitionBuilder builder(root);
  builder.Table("Sample.dbc")
      .Note("Sample table")
      .Field("ID", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("", {{"position", "1"}, {"type", "string"}, {"size", "4"}})
      .Field("Speed", {{"type", "float"}, {"position", "2"}, {"size", "4"}})
      .Field("Kind", {{"position", "3"}, {"type", "byte"}});
  return builder;
}

const DBFile kSample = File("Sample table", MapOf({
                                                Attr("ID", 0, 0, 4),
                                                Attr("Undef_1", 1, 1, 4),
                                                Attr("Speed", 2, 2, 4),
                                                Attr("Kind", 3, 4, 0),
                                            }));

TEST_F(DocumentStructureTest, WorkedExampleUnderEitherRoot) {
  for (const char* root : {"DBCFile", "WDBFile"}) {
    SCOPED_TRACE(root);
    selvane::CDBFieldManager fresh;
    manager_ = fresh;
    ASSERT_EQ(0, Load(SampleDocument(root)));
    const DBFile* file = manager_.FindFile("Sample.dbc");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(kSample, *file);
  }
}

TEST_F(DocumentStructureTest, TableElementNameIsNotExamined) {
  DefinitionBuilder builder;
  builder.Table("A.dbc").Element("Whatever").Note("a");
  builder.Table("B.wdb").Element("Field").Note("b");
  ASSERT_EQ(0, Load(builder));
  ASSERT_NE(nullptr, manager_.FindFile("A.dbc"));
  EXPECT_EQ("a", manager_.FindFile("A.dbc")->note);
  ASSERT_NE(nullptr, manager_.FindFile("B.wdb"));
  EXPECT_EQ("b", manager_.FindFile("B.wdb")->note);
}

TEST_F(DocumentStructureTest, TableWithoutUsableNameIsSkippedWhole) {
  DefinitionBuilder builder;
  builder.UnnamedTable().Note("lost").Field("F", {{"position", "0"}});
  builder.Table("").Note("lost too").Field("G", {{"position", "0"}});
  builder.Table("Kept.dbc").Field("H", {{"position", "0"}});
  ASSERT_EQ(0, Load(builder));
  EXPECT_EQ(nullptr, manager_.FindFile(""));
  const DBFile* kept = manager_.FindFile("Kept.dbc");
  ASSERT_NE(nullptr, kept);
  EXPECT_EQ(File("[NONE]", MapOf({Attr("H", 0, -1, 0)})), *kept);
}

TEST_F(DocumentStructureTest, TableWithoutFieldsHasEmptyMap) {
  DefinitionBuilder builder;
  builder.Table("Empty.dbc").Note("nothing here");
  ASSERT_EQ(0, Load(builder));
  const selvane::FieldMap* fields = manager_.FindFields("Empty.dbc");
  ASSERT_NE(nullptr, fields);
  EXPECT_TRUE(fields->empty());
  EXPECT_EQ("nothing here", manager_.FindFile("Empty.dbc")->note);
}

TEST_F(DocumentStructureTest, NoteTextOrPlaceholder) {
  struct Case {
    const char* table;  // raw children of the table element
    const char* note;
  };
  const Case cases[] = {
      {"", "[NONE]"},
      {"<Note/>", "[NONE]"},
      {"<Note>   </Note>", "[NONE]"},  // blank text is dropped by the parser
      {"<Note><b>bold</b> after</Note>", "[NONE]"},  // first child not text
      {"<Note>first</Note><Note>second</Note>", "first"},
      {"<Note/><Note>second</Note>", "[NONE]"},  // only the first counts
      {"<Fields/><Note>after fields</Note>", "after fields"},
      {"<Other>x</Other><Note>late</Note>", "late"},
      {"<Note>a &amp; b</Note>", "a & b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    ASSERT_EQ(0, LoadRaw(std::string("<DBCFile><File name=\"N.dbc\">") +
                         c.table + "</File></DBCFile>"));
    ASSERT_NE(nullptr, manager_.FindFile("N.dbc"));
    EXPECT_EQ(c.note, manager_.FindFile("N.dbc")->note);
  }
}

TEST_F(DocumentStructureTest, OnlyFirstFieldsElementIsRead) {
  ASSERT_EQ(0, LoadRaw("<DBCFile><File name=\"T.dbc\">"
                       "<Fields><Field position=\"0\">A</Field></Fields>"
                       "<Fields><Field position=\"1\">B</Field></Fields>"
                       "</File></DBCFile>"));
  ASSERT_NE(nullptr, manager_.FindFields("T.dbc"));
  EXPECT_EQ(MapOf({Attr("A", 0, -1, 0)}), *manager_.FindFields("T.dbc"));
}

TEST_F(DocumentStructureTest, FieldWalkStartsAtFirstFieldAndTakesAnySibling) {
  DefinitionBuilder builder;
  builder.Table("T.dbc")
      .FieldElement("Column", "Before", {{"position", "9"}})
      .RawInFields("<!-- a comment --> stray text <?pi data?>")
      .Field("First", {{"position", "0"}})
      .FieldElement("Column", "Other", {{"position", "1"}, {"size", "2"}})
      .RawInFields("<!-- between -->")
      .FieldElement("Field", "Third", {{"position", "2"}})
      .RawInFields("<Wrapper><Field position=\"7\">Nested</Field></Wrapper>");
  ASSERT_EQ(0, Load(builder));
  ASSERT_NE(nullptr, manager_.FindFields("T.dbc"));
  // The wrapper is a sibling too: an element without attributes or text.
  EXPECT_EQ(MapOf({Attr("First", 0, -1, 0), Attr("Other", 1, -1, 2),
                   Attr("Third", 2, -1, 0), Attr("", -1, -1, 0)}),
            *manager_.FindFields("T.dbc"));
}

TEST_F(DocumentStructureTest, FieldsWithoutFieldElementGiveEmptyMap) {
  DefinitionBuilder builder;
  builder.Table("T.dbc").RawInFields("<Column position=\"0\">A</Column>");
  ASSERT_EQ(0, Load(builder));
  ASSERT_NE(nullptr, manager_.FindFields("T.dbc"));
  EXPECT_TRUE(manager_.FindFields("T.dbc")->empty());
}

TEST_F(DocumentStructureTest, EmptyRootLoadsNothing) {
  ASSERT_EQ(0, LoadRaw("<?xml version=\"1.0\"?><!-- x --><WDBFile/>"));
  EXPECT_EQ(nullptr, manager_.FindFile(""));
}

TEST_F(DocumentStructureTest, NamesAreTakenAsTheParserDeliversThem) {
  DefinitionBuilder builder;
  builder.Table("A&B <1>.dbc").Field("x\"y", {{"position", "0"}});
  ASSERT_EQ(0, Load(builder));
  const selvane::FieldMap* fields = manager_.FindFields("A&B <1>.dbc");
  ASSERT_NE(nullptr, fields);
  EXPECT_EQ(MapOf({Attr("x\"y", 0, -1, 0)}), *fields);
}

}  // namespace
