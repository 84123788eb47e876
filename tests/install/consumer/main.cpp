// Writes a definition file and a two-record WDB cache into the folder given,
// then looks one value up through the installed library.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

void PutInt(std::string& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(u >> (8 * i)));
}

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  std::ofstream(dir + "/defs.xml")
      << "<WDBFile><File name=\"items.wdb\"><Fields>"
         "<Field position=\"0\" type=\"integer\" size=\"4\">id</Field>"
         "<Field position=\"1\" type=\"integer\" size=\"4\">len</Field>"
         "<Field position=\"2\" type=\"cstring\">name</Field>"
         "<Field position=\"3\" type=\"integer\" size=\"4\">price</Field>"
         "</Fields></File></WDBFile>";
  std::string wdb(20, '\0');
  for (const auto& [id, name, price] :
       {std::make_tuple(7, std::string("axe"), 42),
        std::make_tuple(9, std::string("bow"), 77)}) {
    PutInt(wdb, id);
    PutInt(wdb, static_cast<std::int32_t>(name.size() + 1 + 4));
    wdb += name;
    wdb.push_back('\0');
    PutInt(wdb, price);
  }
  std::ofstream(dir + "/items.wdb", std::ios::binary) << wdb;

  CSelvaneObject db;
  if (db.InitConfig(Wide(dir + "/defs.xml")) != 0) return 3;
  DBParam_t key;
  key.fieldIndex = 0;
  key.intValue = 9;
  DBParam_t result;
  result.fieldIndex = 3;
  if (db.QueryWDB(Wide(dir + "/items.wdb"), key, result) != 0) return 4;
  std::printf("price of 9: %d (type %d)\n", result.intValue, result.type);
  if (result.intValue != 77 || result.type != 0) return 5;

  // The same answer from a table opened once.
  CSelvaneTable table;
  if (table.OpenWDB(db, Wide(dir + "/items.wdb")) != 0) return 6;
  DBParam_t byName;
  byName.fieldIndex = table.FieldIndex("name");
  byName.strValue = "bow";
  DBParam_t price;
  price.fieldIndex = table.FieldIndex("price");
  if (table.Query(byName, price) != 0) return 7;
  std::printf("price of bow: %d\n", price.intValue);
  return price.intValue == 77 ? 0 : 8;
}
