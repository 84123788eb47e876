#include "bench/BenchData.h"

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/WdbBuilder.h"

namespace benchdata {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void WriteWdb(const std::string& path, std::int32_t records) {
  WdbBuilder wdb;
  for (std::int32_t i = 0; i < records; ++i) {
    wdb.Record(i + 1)
        .CString(std::string(5 + static_cast<std::size_t>(i % 16),
                             static_cast<char>('a' + i % 26)))
        .Int(7 * i + 3)
        .Int(i)
        .Int(i % 100)
        .Raw(std::string(kAmountSkip, '\x5A'))
        .Float(static_cast<float>(i) / 2.0f);
  }
  WriteFile(path, wdb.bytes());
}

std::string WdbName(std::int32_t record) {
  return "item_" + std::to_string(record);
}

void WriteWdbDistinct(const std::string& path, std::int32_t records) {
  WdbBuilder wdb;
  for (std::int32_t i = 0; i < records; ++i) {
    wdb.Record(i + 1)
        .CString(WdbName(i))
        .Int(7 * i + 3)
        .Int(i)
        .Int(i % 100)
        .Raw(std::string(kAmountSkip, '\x5A'))
        .Float(static_cast<float>(i) / 2.0f);
  }
  WriteFile(path, wdb.bytes());
}

std::string DbcName(std::int32_t record) {
  return "name_" + std::to_string(record);
}

void WriteDbcArchive(const std::string& path, const std::string& table,
                     std::int32_t records, bool compressed) {
  DbcBuilder dbc;
  for (std::int32_t i = 0; i < records; ++i) {
    dbc.Record({Int(i + 1), Str(DbcName(i)), Int(3 * i), Int(5 * i), Int(7 * i),
                Int(11 * i), Int(13 * i), Float(static_cast<float>(i) / 2.0f)});
  }
  MpqBuilder()
      .Add(
          table, dbc.Build(),
          compressed ? MpqBuilder::Storage::kZlib : MpqBuilder::Storage::kPlain)
      .Write(path);
}

void WriteDefinitions(const std::string& path, const std::string& dbcName) {
  std::string xml = "<WDBFile><Table name=\"bench.wdb\"><Fields>";
  const char* wdb[] = {"integer", "integer", "cstring", "integer",
                       "integer", "amount",  "float"};
  for (int p = 0; p < 7; ++p) {
    xml += "<Field position=\"" + std::to_string(p) + "\" type=\"" + wdb[p] +
           "\" size=\"4\"" +
           (p == 5 ? " skipbyte=\"" + std::to_string(kAmountSkip) + "\"" : "") +
           "/>";
  }
  xml += "</Fields></Table><Table name=\"" + dbcName + "\"><Fields>";
  for (int p = 0; p < kDbcColumns; ++p) {
    const char* type = p == 1 ? "string" : p == 7 ? "float" : "integer";
    xml += "<Field position=\"" + std::to_string(p) + "\" type=\"" + type +
           "\" size=\"4\"/>";
  }
  xml += "</Fields></Table></WDBFile>";
  WriteFile(path, xml);
}

void WriteLargeDefinitions(const std::string& path, int tables, int fields) {
  std::string xml = "<DBCFile>\n";
  for (int t = 0; t < tables; ++t) {
    xml += "<Table name=\"Table" + std::to_string(t) +
           ".dbc\"><Note>table</Note><Fields>\n";
    for (int f = 0; f < fields; ++f) {
      xml += "<Field position=\"" + std::to_string(f) +
             "\" type=\"integer\" size=\"4\">Field" + std::to_string(f) +
             "</Field>\n";
    }
    xml += "</Fields></Table>\n";
  }
  xml += "</DBCFile>\n";
  WriteFile(path, xml);
}

}  // namespace benchdata
