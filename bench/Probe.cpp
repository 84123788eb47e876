// Runs one last-record lookup of the benchmark, or its floor, a given number
// of times, for counting instructions under callgrind rather than timing:
//   valgrind --tool=callgrind --toggle-collect=SelvaneProbeRun
//     selvane_probe KIND RECORDS raw|zlib TIMES
// KIND: string, int (DBC), wdb (the int after the cstring), or any of them
// prefixed with floor-. raw|zlib applies to DBC only.
// The files are written, and one warm-up lookup made, outside the counted
// function, so the count divided by TIMES is the cost of one lookup.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

#include <unistd.h>

#include "bench/BenchData.h"
#include "bench/Floors.h"

namespace fs = std::filesystem;

namespace {

struct Probe {
  std::string what;
  std::int32_t records = 0;
  std::string archive;
  std::string table = "Tables\\Bench.dbc";
  std::string wdb;
  CSelvaneObject db;
};

// The last record, by its id (int) or by its name (string); true when the
// answer is right.
bool Once(const Probe& p) {
  const std::int32_t last = p.records - 1;
  const std::string name = benchdata::DbcName(last);
  const float weight = static_cast<float>(last) / 2.0f;
  if (p.what == "floor-wdb")
    return WdbFloor(p.wdb, 3, 7 * last + 3, benchdata::kAmountSkip) == weight;
  if (p.what == "wdb") {
    const std::wstring wide(p.wdb.begin(), p.wdb.end());
    DBParam_t key, result;
    key.fieldIndex = 3;
    key.intValue = 7 * last + 3;
    result.fieldIndex = 6;
    return p.db.QueryWDB(wide, key, result) == 0 && result.floatValue == weight;
  }
  if (p.what == "floor-int")
    return DbcFloorInt(p.archive, p.table, 0, last + 1, 2) == 3 * last;
  if (p.what == "floor-string")
    return DbcFloorString(p.archive, p.table, 1, name, 0) == last + 1;
  const std::wstring wide(p.archive.begin(), p.archive.end());
  DBParam_t key, result;
  if (p.what == "int") {
    key.fieldIndex = 0;
    key.intValue = last + 1;
    result.fieldIndex = 2;
    return p.db.QueryDBC(wide, p.table, key, result) == 0 &&
           result.intValue == 3 * last;
  }
  key.fieldIndex = 1;
  key.strValue = name;
  result.fieldIndex = 0;
  return p.db.QueryDBC(wide, p.table, key, result) == 0 &&
         result.intValue == last + 1;
}

}  // namespace

// The counted part; a plain name for --toggle-collect.
extern "C" __attribute__((noinline)) int SelvaneProbeRun(const Probe* p,
                                                         int times) {
  int right = 0;
  for (int i = 0; i < times; ++i) right += Once(*p) ? 1 : 0;
  return right;
}

int main(int argc, char** argv) {
  const char* kinds[] = {"string",       "int",       "wdb",
                         "floor-string", "floor-int", "floor-wdb"};
  if (argc != 5 ||
      std::find_if(std::begin(kinds), std::end(kinds), [&](const char* k) {
        return std::strcmp(k, argv[1]) == 0;
      }) == std::end(kinds)) {
    std::fprintf(stderr,
                 "usage: selvane_probe [floor-]string|int|wdb RECORDS "
                 "raw|zlib TIMES\n");
    return 2;
  }
  Probe p;
  p.what = argv[1];
  p.records = std::atoi(argv[2]);
  const bool zlib = std::strcmp(argv[3], "zlib") == 0;
  const int times = std::atoi(argv[4]);
  const fs::path dir = fs::temp_directory_path() /
                       ("selvane-probe-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  p.archive = (dir / "probe.mpq").string();
  const std::string defs = (dir / "defs.xml").string();
  fs::create_directories(dir / "wdb");
  p.wdb = (dir / "wdb" / "bench.wdb").string();
  benchdata::WriteDbcArchive(p.archive, p.table, p.records, zlib);
  benchdata::WriteWdb(p.wdb, p.records);
  benchdata::WriteDefinitions(defs, "Bench.dbc");
  const std::wstring wdefs(defs.begin(), defs.end());
  int status = 1;
  if (p.records > 0 && p.db.InitConfig(wdefs) == 0 && Once(p)) {
    const int right = SelvaneProbeRun(&p, times);
    std::printf("%d of %d lookups right\n", right, times);
    status = right == times ? 0 : 1;
  } else {
    std::fprintf(stderr, "selvane_probe: the warm-up lookup failed\n");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
