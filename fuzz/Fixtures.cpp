#include "fuzz/Fixtures.h"

#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/ScratchDir.h"

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

const char kWdbFileName[] = "Fuzz.wdb";
const char kDbcTableName[] = "Fuzz.dbc";
const char kDbcTablePath[] = "DBFilesClient\\Fuzz.dbc";
const char kArchiveTablePath[] = "DBFilesClient\\Item.dbc";

namespace {

const char* const kTexts[] = {"one", "two", "three"};

DefinitionBuilder::Attributes Attrs(const char* position, const char* type,
                                    const char* size) {
  DefinitionBuilder::Attributes attrs = {{"position", position}};
  if (type != nullptr) attrs.emplace_back("type", type);
  if (size != nullptr) attrs.emplace_back("size", size);
  return attrs;
}

}  // namespace

std::string WdbDefinitionXml() {
  DefinitionBuilder::Attributes price = Attrs("4", "amount", "4");
  price.emplace_back("skipbyte", "2");
  return DefinitionBuilder("WDBFile")
      .Table(kWdbFileName)
      .Note("fuzz cache")
      .Field("Id", Attrs("0", "integer", "4"))
      .Field("Length", Attrs("1", "integer", "4"))
      .Field("Name", Attrs("2", "cstring", nullptr))
      .Field("Count", Attrs("3", "integer", "4"))
      .Field("Price", price)
      .Field("Kind", Attrs("5", "byte", "1"))
      .Field("Weight", Attrs("6", "float", "4"))
      .Xml();
}

std::string SampleWdb(int variant) {
  WdbBuilder wdb;
  for (std::int32_t id = 1; id <= 3; ++id) {
    const bool odd = variant == 1 && id == 2;
    wdb.Record(id)
        .CString(odd ? "" : kTexts[id - 1])
        .Int(10 * id)
        .Int(100 * id)
        .Raw(std::string(2, '\x7F'))
        .Byte(odd ? 0xC8 : static_cast<std::uint8_t>(id))
        .Float(1.5f * static_cast<float>(id));
    if (variant == 2 && id == 2) wdb.Length(3);
  }
  return wdb.bytes();
}

std::string DbcDefinitionXml() {
  return DefinitionBuilder("DBCFile")
      .Table(kDbcTableName)
      .Field("Id", Attrs("0", "integer", "4"))
      .Field("Name", Attrs("1", "string", "4"))
      .Field("Weight", Attrs("2", "float", "4"))
      .Field("Kind", Attrs("3", "byte", "1"))
      .Field("", Attrs("4", nullptr, "3"))
      .Field("Title", Attrs("5", "string", "4"))
      .Field("Flags", Attrs("6", "bit", "4"))
      .Field("Count", Attrs("8", "integer", "4"))
      .Xml();
}

std::string SampleDbc(int variant) {
  DbcBuilder dbc;
  const std::int32_t shared = dbc.AddToStringBlock(std::string("two") + '\0');
  for (std::int32_t id = 1; id <= 3; ++id) {
    DbcCell title = Str(std::string(kTexts[id - 1]) + " title");
    if (variant == 1) title = Int(shared);
    if (variant == 2 && id == 2) title = Int(1 << 20);
    dbc.Record(
        {Int(id), variant == 1 && id == 3 ? Str("") : Str(kTexts[id - 1]),
         Float(2.5f * static_cast<float>(id)),
         Byte(static_cast<std::uint8_t>(0xC6 + id)), Raw(std::string(3, '\0')),
         title, Int(id & 1), Int(-id), Int(1000 + id)});
  }
  return dbc.Build();
}

std::string ArchiveDefinitionXml() {
  return DefinitionBuilder("DBCFile")
      .Table("Item.dbc")
      .Field("Id", Attrs("0", "integer", "4"))
      .Field("Name", Attrs("1", "string", "4"))
      .Field("Weight", Attrs("2", "float", "4"))
      .Xml();
}

std::string SampleArchiveTable(int records) {
  DbcBuilder dbc;
  for (std::int32_t id = 1; id <= records; ++id) {
    dbc.Record({Int(id), Str(kTexts[(id - 1) % 3]),
                Float(2.5f * static_cast<float>(id))});
  }
  return dbc.Build();
}

void LoadDefinitionsOrExit(const char* target, const ScratchDir& dir,
                           const std::string& xml, CSelvaneObject* db) {
  if (!dir.Write("defs.xml", xml) ||
      db->InitConfig(Widen(dir.File("defs.xml"))) != 0) {
    std::fprintf(stderr, "%s: cannot set up in %s\n", target,
                 dir.path().c_str());
    std::exit(1);
  }
}
