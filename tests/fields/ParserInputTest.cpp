// The loader parses its own copy of the file. That copy must give exactly
// what the XML parser's own file loader gives for the same bytes: line ends
// turned into LF, and nothing after the first NUL.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <string>

#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

std::string Document(const std::string& tableName) {
  return "<DBCFile><File name=\"" + tableName +
         "\"><Fields><Field position=\"0\">id</Field></Fields></File>"
         "</DBCFile>";
}

struct Case {
  const char* label;
  std::string bytes;
  bool loads;
  // The one table's name when the file loads.
  std::string table;
};

// The first table's name as the parser's own file loader reads the file;
// empty when that loader refuses it.
std::string NameByParserLoader(const std::wstring& path) {
  TiXmlDocument document;
  if (!document.LoadFile(std::filesystem::path(path).string())) return "";
  const TiXmlElement* root = document.RootElement();
  const TiXmlElement* table = root ? root->FirstChildElement() : nullptr;
  const char* name = table ? table->Attribute("name") : nullptr;
  return name ? name : "";
}

TEST(ParserInputTest, LoaderReadsTheBytesAsTheParsersFileLoaderDoes) {
  using namespace std::string_literals;
  const std::string kBom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"crlf", Document("A\r\nB"), true, "A\nB"},
      {"lone cr", Document("A\rB"), true, "A\nB"},
      {"cr cr lf", Document("A\r\r\nB"), true, "A\n\nB"},
      {"lf cr", Document("A\n\rB"), true, "A\n\nB"},
      {"cr at end", Document("T") + "\r", true, "T"},
      {"bom and crlf", kBom + Document("\r\n"), true, "\n"},
      {"nul after document", Document("T") + "\0<<garbage"s, true, "T"},
      {"nul inside document", "<DBCFile><File name=\"T\0\"/></DBCFile>"s, false,
       ""},
      {"empty", "", false, ""},
      {"only a nul", "\0"s, false, ""},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::wstring path =
        DefinitionBuilder::WriteRaw(dir, "d.xml", c.bytes);
    EXPECT_EQ(c.table, NameByParserLoader(path));

    selvane::CDBFieldManager manager;
    EXPECT_EQ(c.loads ? 0 : -1, manager.LoadDefinitions(path));
    if (c.loads) {
      EXPECT_NE(nullptr, manager.FindFile(c.table));
    }
  }
}

// In UTF-8 text (a byte order mark or a declaration says so) the parser
// steps over the length a lead byte announces even where the text ends inside
// the sequence, and reads on from there. From the parser's own file loader's
// buffer that read leaves the buffer (valgrind shows it); the loader's copy
// ends in enough terminators to hold it.
TEST(ParserInputTest, UnfinishedSequenceAtTheEndIsRefused) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string files[] = {
      bom + "<DBCFile><File name=\"\xC2",
      bom + "<DBCFile><File name=\"\r\xF4",
      bom + "<DBCFile>\xF0",
      "<?xml version=\"1.0\"?><DBCFile><File name=\"\xE2\x82",
  };
  TempDir dir;
  for (const std::string& bytes : files) {
    SCOPED_TRACE(bytes);
    selvane::CDBFieldManager manager;
    EXPECT_EQ(-1, manager.LoadDefinitions(
                      DefinitionBuilder::WriteRaw(dir, "d.xml", bytes)));
  }
}

}  // namespace
