// Runs one last-record lookup of the benchmark, or its floor, a given number
// of times, for counting instructions under callgrind rather than timing:
//   valgrind --tool=callgrind --toggle-collect=SelvaneProbeRun
//     selvane_probe KIND RECORDS raw|zlib TIMES
// KIND: string, int (DBC), wdb (the int after the cstring), table-int,
// table-wdb (an open table asked by id, as the table bench asks it), or any
// of them prefixed with floor-. raw|zlib applies to DBC only.
// The files are written, the wide paths made (as the timed bench makes them,
// once) and one warm-up lookup made, outside the counted function, so the
// count divided by TIMES is the cost of one lookup.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include <unistd.h>

#include "bench/BenchData.h"
#include "bench/Floors.h"
#include "bench/TableReference.h"

namespace fs = std::filesystem;

namespace {

struct Probe {
  std::string what;
  std::int32_t records = 0;
  std::string archive;
  std::wstring wideArchive;  // made once, as the timed bench makes it
  std::string table = "Tables\\Bench.dbc";
  std::string wdb;
  std::wstring wideWdb;
  CSelvaneObject db;
  std::string wdbDistinct;  // the table bench's WDB layout
  CSelvaneTable snapshot;
  TableReference reference;
};

// The table kinds: one open, then lookups by id from memory.
bool OpenTable(Probe& p) {
  const bool wdb = p.what.find("wdb") != std::string::npos;
  if (p.what.compare(0, 6, "floor-") == 0) {
    return wdb ? p.reference.OpenWdb(p.wdbDistinct, 0)
               : p.reference.OpenDbc(p.archive, p.table, 0);
  }
  const std::string path = wdb ? p.wdbDistinct : p.archive;
  const std::wstring wide(path.begin(), path.end());
  return wdb ? p.snapshot.OpenWDB(p.db, wide) == 0
             : p.snapshot.OpenDBC(p.db, wide, p.table) == 0;
}

// The last record, by its id (int) or by its name (string); true when the
// answer is right.
bool Once(const Probe& p) {
  const std::int32_t last = p.records - 1;
  const std::string name = benchdata::DbcName(last);
  const float weight = static_cast<float>(last) / 2.0f;
  if (p.what == "table-wdb" || p.what == "table-int") {
    DBParam_t key, result;
    key.fieldIndex = 0;
    key.intValue = last + 1;
    result.fieldIndex = p.what == "table-wdb" ? 6 : 2;
    if (p.snapshot.Query(key, result) != 0) return false;
    return p.what == "table-wdb" ? result.floatValue == weight
                                 : result.intValue == 3 * last;
  }
  if (p.what == "floor-table-wdb") {
    float f = 0.0f;
    return p.reference.WdbAnswer(last + 1, &f) && f == weight;
  }
  if (p.what == "floor-table-int") {
    std::int32_t i = 0;
    return p.reference.DbcAnswer(last + 1, &i) && i == 3 * last;
  }
  if (p.what == "floor-wdb")
    return WdbFloor(p.wdb, 3, 7 * last + 3, benchdata::kAmountSkip) == weight;
  if (p.what == "wdb") {
    DBParam_t key, result;
    key.fieldIndex = 3;
    key.intValue = 7 * last + 3;
    result.fieldIndex = 6;
    return p.db.QueryWDB(p.wideWdb, key, result) == 0 &&
           result.floatValue == weight;
  }
  if (p.what == "floor-int")
    return DbcFloorInt(p.archive, p.table, 0, last + 1, 2) == 3 * last;
  if (p.what == "floor-string")
    return DbcFloorString(p.archive, p.table, 1, name, 0) == last + 1;
  const std::wstring& wide = p.wideArchive;
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
  const char* kinds[] = {"string",         "int",       "wdb",
                         "floor-string",   "floor-int", "floor-wdb",
                         "table-int",      "table-wdb", "floor-table-int",
                         "floor-table-wdb"};
  if (argc != 5 ||
      std::find_if(std::begin(kinds), std::end(kinds), [&](const char* k) {
        return std::strcmp(k, argv[1]) == 0;
      }) == std::end(kinds)) {
    std::fprintf(stderr,
                 "usage: selvane_probe [floor-][table-]int|wdb, [floor-]string "
                 "RECORDS "
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
  p.wideArchive.assign(p.archive.begin(), p.archive.end());
  const std::string defs = (dir / "defs.xml").string();
  fs::create_directories(dir / "wdb");
  p.wdb = (dir / "wdb" / "bench.wdb").string();
  p.wideWdb.assign(p.wdb.begin(), p.wdb.end());
  benchdata::WriteDbcArchive(p.archive, p.table, p.records, zlib);
  benchdata::WriteWdb(p.wdb, p.records);
  fs::create_directories(dir / "distinct");
  p.wdbDistinct = (dir / "distinct" / "bench.wdb").string();
  benchdata::WriteWdbDistinct(p.wdbDistinct, p.records);
  benchdata::WriteDefinitions(defs, "Bench.dbc");
  const std::wstring wdefs(defs.begin(), defs.end());
  // An archive changed a moment ago is checked on every open; count the
  // lookups of one that has settled, as a host's archives have.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  int status = 1;
  const bool table = p.what.find("table-") != std::string::npos;
  if (p.records > 0 && p.db.InitConfig(wdefs) == 0 &&
      (!table || OpenTable(p)) && Once(p)) {
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
