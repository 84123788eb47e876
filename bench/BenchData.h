#ifndef SELVANE_BENCH_BENCHDATA_H_
#define SELVANE_BENCH_BENCHDATA_H_

#include <cstdint>
#include <string>

// The benchmark's own files, written once per run into a temporary folder.
//
// WDB record i (from 0): id i+1, data length, a cstring of 5..20 characters,
// int 7i+3, int i, an "amount" of 4 bytes followed by kAmountSkip bytes,
// float i/2.
// DBC record i: 8 columns of 4 bytes: id i+1, a string-block offset to
// "name_<i>", ints 3i, 5i, 7i, 11i, 13i, float i/2.
namespace benchdata {

constexpr std::int32_t kAmountSkip = 4;
constexpr int kDbcColumns = 8;

void WriteWdb(const std::string& path, std::int32_t records);
// The same layout with a text of its own in every record, WdbName(i).
void WriteWdbDistinct(const std::string& path, std::int32_t records);
std::string WdbName(std::int32_t record);
std::string DbcName(std::int32_t record);
void WriteDbcArchive(const std::string& path, const std::string& table,
                     std::int32_t records, bool compressed);
// Definitions for both kinds ("bench.wdb" and the DBC table's bare name).
void WriteDefinitions(const std::string& path, const std::string& dbcName);
// Definitions of tables x fields, for timing the loader.
void WriteLargeDefinitions(const std::string& path, int tables, int fields);

}  // namespace benchdata

#endif  // SELVANE_BENCH_BENCHDATA_H_
