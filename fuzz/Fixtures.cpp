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

// One field of a fixed definition: the XML attributes and the type code
// the loader stores for the keyword. A null type or size is left out.
struct Column {
  const char* name;
  const char* position;
  const char* type;
  std::int32_t code;
  const char* size;
  const char* skipbyte;
};

const Column kWdbColumns[] = {
    {"Id", "0", "integer", kTypeInteger, "4", nullptr},
    {"Length", "1", "integer", kTypeInteger, "4", nullptr},
    {"Name", "2", "cstring", kTypeCString, nullptr, nullptr},
    {"Count", "3", "integer", kTypeInteger, "4", nullptr},
    {"Price", "4", "amount", kTypeAmount, "4", "2"},
    {"Kind", "5", "byte", kTypeByte, "1", nullptr},
    {"Weight", "6", "float", kTypeFloat, "4", nullptr}};

const Column kDbcColumns[] = {
    {"Id", "0", "integer", kTypeInteger, "4", nullptr},
    {"Name", "1", "string", kTypeString, "4", nullptr},
    {"Weight", "2", "float", kTypeFloat, "4", nullptr},
    {"Kind", "3", "byte", kTypeByte, "1", nullptr},
    {"", "4", nullptr, kTypeNone, "3", nullptr},
    {"Title", "5", "string", kTypeString, "4", nullptr},
    {"Flags", "6", "bit", kTypeBit, "4", nullptr},
    {"Count", "8", "integer", kTypeInteger, "4", nullptr}};

const Column kArchiveColumns[] = {
    {"Id", "0", "integer", kTypeInteger, "4", nullptr},
    {"Name", "1", "string", kTypeString, "4", nullptr},
    {"Weight", "2", "float", kTypeFloat, "4", nullptr}};

template <std::size_t N>
std::string XmlOf(const char* root, const char* table, const char* note,
                  const Column (&columns)[N]) {
  DefinitionBuilder defs(root);
  defs.Table(table);
  if (note != nullptr) defs.Note(note);
  for (const Column& c : columns) {
    DefinitionBuilder::Attributes attrs = {{"position", c.position}};
    if (c.type != nullptr) attrs.emplace_back("type", c.type);
    if (c.size != nullptr) attrs.emplace_back("size", c.size);
    if (c.skipbyte != nullptr) attrs.emplace_back("skipbyte", c.skipbyte);
    defs.Field(c.name, attrs);
  }
  return defs.Xml();
}

template <std::size_t N>
FieldMap MapOf(const Column (&columns)[N]) {
  FieldMap fields;
  for (const Column& c : columns) {
    FieldAttr_t& f = fields[std::atoi(c.position)];
    f.name = c.name;
    f.position = std::atoi(c.position);
    f.type = c.code;
    f.size = c.size != nullptr ? std::atoi(c.size) : 0;
    f.skipbyte = c.skipbyte != nullptr ? std::atoi(c.skipbyte) : 0;
  }
  return fields;
}

}  // namespace

std::string WdbDefinitionXml() {
  return XmlOf("WDBFile", kWdbFileName, "fuzz cache", kWdbColumns);
}

const FieldMap& WdbFields() {
  static const FieldMap fields = MapOf(kWdbColumns);
  return fields;
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
  return XmlOf("DBCFile", kDbcTableName, nullptr, kDbcColumns);
}

const FieldMap& DbcFields() {
  static const FieldMap fields = MapOf(kDbcColumns);
  return fields;
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
  return XmlOf("DBCFile", "Item.dbc", nullptr, kArchiveColumns);
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
