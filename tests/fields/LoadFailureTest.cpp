// Loads that fail return -1 and leave every definition as it was.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/fields/FieldsTestUtil.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

// A valid body that would redefine Base.dbc and add New.dbc if it were ever
// merged.
const char kTables[] =
    "<File name=\"Base.dbc\"><Note>replaced</Note></File>"
    "<File name=\"New.dbc\"><Fields><Field position=\"0\">n</Field></Fields>"
    "</File>";

class LoadFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DefinitionBuilder base;
    base.Table("Base.dbc")
        .Note("base")
        .Field("id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}});
    base.Table("Other.wdb").Field("", {{"position", "1"}});
    ASSERT_EQ(0, manager_.LoadDefinitions(base.WriteTo(dir_, "base.xml")));
    before_ = Snapshot(manager_, names_);
  }

  // The manager must hold exactly what the base document gave it.
  void ExpectUnchanged() const {
    EXPECT_EQ(before_, Snapshot(manager_, names_));
  }

  std::wstring Replacement() const {
    return DefinitionBuilder::WriteRaw(
        dir_, "good.xml", std::string("<DBCFile>") + kTables + "</DBCFile>");
  }

  const std::vector<std::string> names_ = {"Base.dbc", "Other.wdb", "New.dbc"};
  TempDir dir_;
  selvane::CDBFieldManager manager_;
  std::vector<std::optional<DBFile>> before_;
};

TEST_F(LoadFailureTest, RejectedDocuments) {
  struct Case {
    const char* what;
    std::string xml;
  };
  const std::string tables = kTables;
  const Case cases[] = {
      {"empty file", ""},
      {"white space only", " \n\t "},
      {"plain text", "just some words"},
      {"declaration and comment only", "<?xml version=\"1.0\"?><!-- x -->"},
      {"truncated after valid tables", "<DBCFile>" + tables + "<File name="},
      {"unclosed root", "<DBCFile>" + tables},
      {"mismatched end tag", "<DBCFile>" + tables + "</WDBFile>"},
      {"broken inside a field",
       "<DBCFile>" + tables + "<File name=\"Z\"><Fields><Field position=1/>"},
      {"duplicate attribute",
       "<DBCFile>" + tables + "<File name=\"Z\" name=\"Y\"/></DBCFile>"},
      {"other root", "<Definitions>" + tables + "</Definitions>"},
      {"root in small letters", "<dbcfile>" + tables + "</dbcfile>"},
      {"root in capitals", "<DBCFILE>" + tables + "</DBCFILE>"},
      {"root in mixed case", "<WdbFile>" + tables + "</WdbFile>"},
      {"root with a prefix", "<x:DBCFile>" + tables + "</x:DBCFile>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(-1, manager_.LoadDefinitions(
                      DefinitionBuilder::WriteRaw(dir_, "bad.xml", c.xml)));
    ExpectUnchanged();
  }
  // The same tables under an accepted root do load, so the cases above
  // failed for the reason they name.
  EXPECT_EQ(0, manager_.LoadDefinitions(Replacement()));
  EXPECT_EQ("replaced", manager_.FindFile("Base.dbc")->note);
}

TEST_F(LoadFailureTest, MissingFile) {
  EXPECT_EQ(-1, manager_.LoadDefinitions(Widen(dir_.File("absent.xml"))));
  EXPECT_EQ(-1, manager_.LoadDefinitions(L""));
  ExpectUnchanged();
}

TEST_F(LoadFailureTest, Directory) {
  std::filesystem::create_directory(dir_.File("folder.xml"));
  EXPECT_EQ(-1, manager_.LoadDefinitions(Widen(dir_.File("folder.xml"))));
  EXPECT_EQ(-1, manager_.LoadDefinitions(Widen(dir_.path())));
  ExpectUnchanged();
}

#ifndef _WIN32
TEST_F(LoadFailureTest, PipeIsRefusedWithoutBlocking) {
  const std::string fifo = dir_.File("pipe.xml");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(-1, manager_.LoadDefinitions(Widen(fifo)));
  ExpectUnchanged();
}

TEST_F(LoadFailureTest, SymlinkToDefinitionFileLoads) {
  Replacement();
  std::filesystem::create_symlink(dir_.File("good.xml"), dir_.File("link.xml"));
  EXPECT_EQ(0, manager_.LoadDefinitions(Widen(dir_.File("link.xml"))));
  EXPECT_NE(nullptr, manager_.FindFile("New.dbc"));
}
#endif

TEST_F(LoadFailureTest, PathCharacterAboveByteRangeOpensNothing) {
  // U+0167 cut to its low 8 bits is 'g': the cut path would name good.xml.
  Replacement();
  const std::wstring cut = Widen(dir_.path() + "/") + L"\u0167ood.xml";
  EXPECT_EQ(-1, manager_.LoadDefinitions(cut));
  const std::wstring cutDir = Widen(dir_.path()) + L"\u012Fgood.xml";  // '/'
  EXPECT_EQ(-1, manager_.LoadDefinitions(cutDir));
  ExpectUnchanged();
}

TEST_F(LoadFailureTest, NulInPathOpensNothing) {
  // Handed on as a C string, the path would end at the NUL and name good.xml.
  const std::wstring good = Replacement();
  EXPECT_EQ(-1, manager_.LoadDefinitions(good + std::wstring(1, L'\0') +
                                         L".missing"));
  ExpectUnchanged();
}

TEST_F(LoadFailureTest, PathCharactersUpToByteRangeNarrowExactly) {
  // A file whose name holds the byte 0xE9, reached through U+00E9.
  const std::string narrowName = std::string("d") + '\xE9' + "fs.xml";
  dir_.Write(narrowName, std::string("<WDBFile>") + kTables + "</WDBFile>");
  EXPECT_EQ(
      0, manager_.LoadDefinitions(Widen(dir_.path() + "/") + L"d\u00E9fs.xml"));
  EXPECT_EQ("replaced", manager_.FindFile("Base.dbc")->note);
  EXPECT_NE(nullptr, manager_.FindFile("New.dbc"));
}

}  // namespace
