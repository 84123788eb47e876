#include "bench/BenchData.h"

#include <StormLib.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "tests/support/Bytes.h"

namespace benchdata {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void WriteWdb(const std::string& path, std::int32_t records) {
  std::string bytes = "BHDW";
  PutInt32(bytes, 1);
  bytes += "SUne";
  PutInt32(bytes, 0);
  PutInt32(bytes, 0);
  std::string data;
  for (std::int32_t i = 0; i < records; ++i) {
    data.clear();
    data.append(5 + static_cast<std::size_t>(i % 16),
                static_cast<char>('a' + i % 26));
    data.push_back('\0');
    PutInt32(data, 7 * i + 3);
    PutInt32(data, i);
    PutInt32(data, i % 100);
    data.append(kAmountSkip, '\x5A');
    PutFloat(data, static_cast<float>(i) / 2.0f);
    PutInt32(bytes, i + 1);
    PutInt32(bytes, static_cast<std::int32_t>(data.size()));
    bytes += data;
  }
  WriteFile(path, bytes);
}

std::string DbcName(std::int32_t record) {
  return "name_" + std::to_string(record);
}

void WriteDbcArchive(const std::string& path, const std::string& table,
                     std::int32_t records, bool compressed) {
  std::string strings(1, '\0');
  std::string bytes = "WDBC";
  PutInt32(bytes, records);
  PutInt32(bytes, kDbcColumns);
  PutInt32(bytes, 4 * kDbcColumns);
  std::string body;
  body.reserve(static_cast<std::size_t>(records) * 4 * kDbcColumns);
  for (std::int32_t i = 0; i < records; ++i) {
    PutInt32(body, i + 1);
    PutInt32(body, static_cast<std::int32_t>(strings.size()));
    strings += DbcName(i);
    strings.push_back('\0');
    for (const std::int32_t m : {3, 5, 7, 11, 13}) PutInt32(body, m * i);
    PutFloat(body, static_cast<float>(i) / 2.0f);
  }
  PutInt32(bytes, static_cast<std::int32_t>(strings.size()));
  bytes += body;
  bytes += strings;

  std::remove(path.c_str());
  HANDLE mpq = nullptr;
  if (!SFileCreateArchive(path.c_str(), MPQ_CREATE_ARCHIVE_V2, 16, &mpq))
    throw std::runtime_error("cannot create " + path);
  HANDLE file = nullptr;
  const DWORD flags = compressed ? MPQ_FILE_COMPRESS : 0;
  bool ok = SFileCreateFile(mpq, table.c_str(), 0,
                            static_cast<DWORD>(bytes.size()), 0, flags, &file);
  ok =
      ok && SFileWriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                           compressed ? MPQ_COMPRESSION_ZLIB : 0);
  ok = SFileFinishFile(file) && ok;
  SFileCloseArchive(mpq);
  if (!ok) throw std::runtime_error("cannot store " + table + " in " + path);
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
