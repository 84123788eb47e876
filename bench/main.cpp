// Times every query through CSelvaneObject against the floor of its own work
// (the file read once and walked in memory), side by side in one run, and
// prints the ratios. Usage: selvane_bench [--smoke] [--json=PATH]
//   [benchmark flags...]
#include <SelvaneLibrary/SelvaneLibrary.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <regex.h>
#include <unistd.h>

#include "bench/BenchData.h"
#include "bench/Floors.h"
#include "bench/HeapCounter.h"
#include "bench/TableReference.h"

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

struct Case {
  std::string name;
  std::function<bool()> lookup;  // true when the answer is right
  std::function<bool()> floor;
  bool measureHeap = false;
  bool measureFloorHeap = false;  // tables: the reference's peak too
  // Timed outside the benchmark library: lookup and floor alternate pass by
  // pass and each keeps its fastest pass (see RunPaired).
  bool paired = false;
};

std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

struct Fixture {
  fs::path dir;
  CSelvaneObject db;
  // Opened once for the cases that time lookups after the open.
  std::deque<CSelvaneTable> tables;
  std::deque<TableReference> references;
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

void AddWdbCases(Fixture& fx, std::int32_t n) {
  const std::string file =
      (fx.dir / ("wdb" + std::to_string(n)) / "bench.wdb").string();
  fs::create_directories(fs::path(file).parent_path());
  benchdata::WriteWdb(file, n);
  const auto wide = Wide(file);
  const CSelvaneObject* db = &fx.db;
  struct Key {
    const char* what;
    int field;
    std::int32_t value;
    std::int32_t record;
  };
  const Key keys[] = {
      {"last/id", 0, n, n - 1},
      {"last/after-cstring", 3, 7 * (n - 1) + 3, n - 1},
      {"first/id", 0, 1, 0},
  };
  for (const Key& k : keys) {
    const float want = static_cast<float>(k.record) / 2.0f;
    Case c;
    c.name = "wdb/" + std::to_string(n) + "/" + k.what;
    c.lookup = [db, wide, k, want] {
      DBParam_t key, result;
      key.fieldIndex = k.field;
      key.intValue = k.value;
      result.fieldIndex = 6;
      return db->QueryWDB(wide, key, result) == 0 && result.floatValue == want;
    };
    c.floor = [file, k, want] {
      return WdbFloor(file, k.field, k.value, benchdata::kAmountSkip) == want;
    };
    c.measureHeap = n == 1000000;
    Cases().push_back(c);
  }
}

void AddDbcCases(Fixture& fx, std::int32_t n, bool compressed) {
  const std::string kind = compressed ? "zlib" : "raw";
  const std::string archive =
      (fx.dir / ("dbc" + std::to_string(n) + kind + ".mpq")).string();
  const std::string table = "Tables\\Bench.dbc";
  benchdata::WriteDbcArchive(archive, table, n, compressed);
  const auto wide = Wide(archive);
  const CSelvaneObject* db = &fx.db;
  const std::string prefix = "dbc/" + std::to_string(n) + "/" + kind + "/";
  for (const auto& [what, record] :
       {std::make_pair(std::string("last/int"), n - 1),
        std::make_pair(std::string("first/int"), 0)}) {
    const std::int32_t want = 3 * record;
    Case c;
    c.name = prefix + what;
    const std::int32_t id = record + 1;
    c.lookup = [db, wide, table, id, want] {
      DBParam_t key, result;
      key.fieldIndex = 0;
      key.intValue = id;
      result.fieldIndex = 2;
      return db->QueryDBC(wide, table, key, result) == 0 &&
             result.intValue == want;
    };
    c.floor = [archive, table, id, want] {
      return DbcFloorInt(archive, table, 0, id, 2) == want;
    };
    c.measureHeap = n == 1000000;
    Cases().push_back(c);
  }
  const std::string name = benchdata::DbcName(n - 1);
  Case c;
  c.name = prefix + "last/string";
  c.lookup = [db, wide, table, name, n] {
    DBParam_t key, result;
    key.fieldIndex = 1;
    key.strValue = name;
    result.fieldIndex = 0;
    return db->QueryDBC(wide, table, key, result) == 0 && result.intValue == n;
  };
  c.floor = [archive, table, name, n] {
    return DbcFloorString(archive, table, 1, name, 0) == n;
  };
  Cases().push_back(c);
}

void AddInitConfigCase(Fixture& fx) {
  const std::string path = (fx.dir / "large-defs.xml").string();
  benchdata::WriteLargeDefinitions(path, 1000, 20);
  Case c;
  c.name = "init_config/1000x20";
  const auto wide = Wide(path);
  c.lookup = [wide] {
    CSelvaneObject db;
    return db.InitConfig(wide) == 0;
  };
  c.floor = [path] { return XmlFloor(path); };
  Cases().push_back(c);
}

// Open once, ask many: a table against the reference a host would write
// (TableReference.h), for 10,000 lookups of random records by an integer
// and by a text field. "open+10k" times the open with the lookups, "10k"
// the lookups alone on a table opened (and indexed) before.
struct TableKind {
  std::string name;   // "wdb/1000000" ...
  std::string path;   // WDB file, or archive
  std::string table;  // DBC only
  std::int32_t records;
};

void AddTableCases(Fixture& fx, const TableKind& kind, bool text, int lookups) {
  const bool wdb = kind.table.empty();
  std::mt19937 rng(42);
  std::uniform_int_distribution<std::int32_t> pick(0, kind.records - 1);
  auto picked = std::make_shared<std::vector<std::int32_t>>();
  for (int i = 0; i < lookups; ++i) picked->push_back(pick(rng));
  const int keyField = text ? (wdb ? 2 : 1) : 0;
  const int resultField = wdb ? 6 : 2;
  const CSelvaneObject* db = &fx.db;
  const std::wstring wide = Wide(kind.path);

  auto ask = [picked, text, wdb, keyField,
              resultField](const CSelvaneTable& table) {
    // One pair of records for every lookup, as a host asking many would
    // keep them; the reference has none to make either.
    DBParam_t key, result;
    for (const std::int32_t r : *picked) {
      key.fieldIndex = keyField;
      if (text) {
        key.strValue = wdb ? benchdata::WdbName(r) : benchdata::DbcName(r);
      } else {
        key.intValue = r + 1;
      }
      result.fieldIndex = resultField;
      if (table.Query(key, result) != 0) return false;
      if (wdb ? result.floatValue != static_cast<float>(r) / 2.0f
              : result.intValue != 3 * r) {
        return false;
      }
    }
    return true;
  };
  auto answer = [picked, text, wdb](const TableReference& ref) {
    for (const std::int32_t r : *picked) {
      float f = 0.0f;
      std::int32_t i = 0;
      bool ok = false;
      if (wdb) {
        ok = text ? ref.WdbAnswer(benchdata::WdbName(r), &f)
                  : ref.WdbAnswer(r + 1, &f);
        ok = ok && f == static_cast<float>(r) / 2.0f;
      } else {
        ok = text ? ref.DbcAnswer(benchdata::DbcName(r), &i)
                  : ref.DbcAnswer(r + 1, &i);
        ok = ok && i == 3 * r;
      }
      if (!ok) return false;
    }
    return true;
  };
  auto open = [db, wide, kind, wdb](CSelvaneTable& table) {
    return wdb ? table.OpenWDB(*db, wide) == 0
               : table.OpenDBC(*db, wide, kind.table) == 0;
  };
  auto openRef = [kind, wdb, keyField](TableReference& ref) {
    return wdb ? ref.OpenWdb(kind.path, keyField)
               : ref.OpenDbc(kind.path, kind.table, keyField);
  };

  const std::string prefix =
      "table/" + kind.name + "/" + (text ? "text" : "int") + "/";
  Case whole;
  whole.name = prefix + "open+" + std::to_string(lookups / 1000) + "k";
  whole.lookup = [open, ask] {
    CSelvaneTable table;
    return open(table) && ask(table);
  };
  whole.floor = [openRef, answer] {
    TableReference ref;
    return openRef(ref) && answer(ref);
  };
  whole.measureHeap = whole.measureFloorHeap = true;
  Cases().push_back(whole);

  fx.tables.emplace_back();
  CSelvaneTable* table = &fx.tables.back();
  fx.references.emplace_back();
  TableReference* ref = &fx.references.back();
  if (!open(*table) || !openRef(*ref)) return;  // the first case reports it
  Case warm;
  warm.name = prefix + std::to_string(lookups / 1000) + "k";
  warm.lookup = [table, ask] { return ask(*table); };
  warm.floor = [ref, answer] { return answer(*ref); };
  warm.paired = true;
  Cases().push_back(warm);
}

void AddTableCases(Fixture& fx, bool smoke) {
  const std::int32_t wdbRecords = smoke ? 1000 : 1000000;
  const std::int32_t dbcRecords = smoke ? 1000 : 100000;
  const int lookups = smoke ? 1000 : 10000;
  TableKind wdb;
  wdb.records = wdbRecords;
  wdb.name = "wdb/" + std::to_string(wdbRecords);
  wdb.path = (fx.dir / "tables" / "bench.wdb").string();
  fs::create_directories(fs::path(wdb.path).parent_path());
  benchdata::WriteWdbDistinct(wdb.path, wdbRecords);
  TableKind dbc;
  dbc.records = dbcRecords;
  dbc.name = "dbc/" + std::to_string(dbcRecords) + "/zlib";
  dbc.path = (fx.dir / "tables.mpq").string();
  dbc.table = "Tables\\Bench.dbc";
  benchdata::WriteDbcArchive(dbc.path, dbc.table, dbcRecords, true);
  for (const bool text : {false, true}) {
    AddTableCases(fx, wdb, text, lookups);
    AddTableCases(fx, dbc, text, lookups);
  }
}

void Run(benchmark::State& state, const std::function<bool()>* fn) {
  for (auto _ : state) {
    if (!(*fn)()) {
      state.SkipWithError("wrong answer");
      break;
    }
  }
}

// The statistic that stands for a case run several times: its fastest
// repetition. On a machine shared with others, a repetition is only ever
// slowed down by them, so the fastest is the closest to the work itself,
// where a median of few repetitions moves with whatever ran meanwhile.
double Fastest(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

// Collects the mean real time of every run by name, besides printing.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.error_occurred) failed = true;
      // With repetitions, the fastest stands for the case (see Fastest).
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min")
        continue;
      // Adjusted times are in the run's unit; keep nanoseconds.
      times[run.run_name.str()] =
          run.GetAdjustedRealTime() /
          benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  bool failed = false;
};

// A case of a few hundred microseconds, timed as lookup and floor passes
// that alternate, each side's fastest pass standing for it (as Fastest).
constexpr int kPairedPasses = 101;

bool RunPaired(const Case& c, int passes, double* lookupNs, double* floorNs) {
  using Clock = std::chrono::steady_clock;
  auto pass = [](const std::function<bool()>& fn, double* best) {
    const auto start = Clock::now();
    const bool right = fn();
    const double ns =
        std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    *best = std::min(*best, ns);
    return right;
  };
  *lookupNs = *floorNs = HUGE_VAL;
  for (int i = 0; i < passes; ++i) {
    if (!pass(c.lookup, lookupNs) || !pass(c.floor, floorNs)) return false;
  }
  return true;
}

// The --benchmark_filter the benchmark library is given, for the paired
// cases it does not run; a leading '-' (exclusion) is not followed here.
bool Selected(const std::string& name, const std::string& filter) {
  if (filter.empty() || filter == "all" || filter[0] == '-') return true;
  regex_t re;
  if (regcomp(&re, filter.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return true;
  const bool match = regexec(&re, name.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return match;
}

std::string Human(double ns) {
  char buf[32];
  if (ns >= 1e6)
    std::snprintf(buf, sizeof buf, "%.2f ms", ns / 1e6);
  else if (ns >= 1e3)
    std::snprintf(buf, sizeof buf, "%.1f us", ns / 1e3);
  else
    std::snprintf(buf, sizeof buf, "%.0f ns", ns);
  return buf;
}

// Extra heap bytes one lookup needs at its peak, over what was in use.
long long PeakHeap(const std::function<bool()>& fn) {
  if (!heap::Available()) return -1;
  const std::size_t before = heap::InUse();
  heap::ResetPeak();
  fn();
  return static_cast<long long>(heap::Peak() - before);
}

}  // namespace

int main(int argc, char** argv) {
  bool smoke = false;
  std::string json_path;
  std::string filter;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
    } else if (std::strncmp(argv[i], "--json=", 7) == 0) {
      json_path = argv[i] + 7;
    } else {
      if (std::strncmp(argv[i], "--benchmark_filter=", 19) == 0)
        filter = argv[i] + 19;
      args.push_back(argv[i]);
    }
  }
  Fixture fx;
  fx.dir = fs::temp_directory_path() /
           ("selvane-bench-" + std::to_string(::getpid()));
  fs::create_directories(fx.dir);
  const std::string defs = (fx.dir / "bench-defs.xml").string();
  benchdata::WriteDefinitions(defs, "Bench.dbc");
  if (fx.db.InitConfig(Wide(defs)) != 0) {
    std::fprintf(stderr, "bench: definitions did not load\n");
    return 1;
  }
  const std::vector<std::int32_t> sizes =
      smoke ? std::vector<std::int32_t>{1000}
            : std::vector<std::int32_t>{1000, 10000, 100000, 1000000};
  std::fprintf(stderr, "bench: writing data files...\n");
  for (const auto n : sizes) AddWdbCases(fx, n);
  for (const auto n : sizes) {
    AddDbcCases(fx, n, false);
    AddDbcCases(fx, n, true);
  }
  AddInitConfigCase(fx);
  AddTableCases(fx, smoke);
  // An archive changed a moment ago is checked on every open; time the
  // lookups of settled ones, as a host's archives are.
  if (!smoke) std::this_thread::sleep_for(std::chrono::seconds(4));

  for (const Case& c : Cases()) {
    if (!c.lookup() || !c.floor()) {
      std::fprintf(stderr, "bench: %s gives a wrong answer\n", c.name.c_str());
      return 1;
    }
    if (c.paired) continue;
    // Lookup and floor alternate case by case, so that both see the same
    // state of the machine.
    benchmark::RegisterBenchmark(c.name.c_str(), Run, &c.lookup)
        ->Unit(benchmark::kMicrosecond)
        ->ComputeStatistics("min", Fastest);
    benchmark::RegisterBenchmark(("floor:" + c.name).c_str(), Run, &c.floor)
        ->Unit(benchmark::kMicrosecond)
        ->ComputeStatistics("min", Fastest);
  }
  if (smoke) args.push_back(const_cast<char*>("--benchmark_min_time=0.01"));
  int bargc = static_cast<int>(args.size());
  benchmark::Initialize(&bargc, args.data());
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  for (const Case& c : Cases()) {
    if (!c.paired || !Selected(c.name, filter)) continue;
    double t = 0, f = 0;
    if (!RunPaired(c, smoke ? 3 : kPairedPasses, &t, &f)) {
      std::fprintf(stderr, "bench: %s gives a wrong answer\n", c.name.c_str());
      collector.failed = true;
      continue;
    }
    collector.times[c.name] = t;
    collector.times["floor:" + c.name] = f;
  }

  std::string json = "{\n  \"machine_cores\": " +
                     std::to_string(std::thread::hardware_concurrency()) +
                     ",\n  \"cases\": [\n";
  std::printf("\n%-38s %12s %12s %7s %12s\n", "case", "lookup", "floor",
              "ratio", "peak heap");
  bool first = true;
  for (const Case& c : Cases()) {
    const double t = collector.times[c.name];
    const double f = collector.times["floor:" + c.name];
    const double ratio = f > 0 ? t / f : 0;
    const long long peak = c.measureHeap ? PeakHeap(c.lookup) : -1;
    const long long floorPeak = c.measureFloorHeap ? PeakHeap(c.floor) : -1;
    std::string peak_text =
        peak < 0 ? "" : std::to_string(peak / 1024) + " KiB";
    if (floorPeak >= 0)
      peak_text += " (ref " + std::to_string(floorPeak / 1024) + " KiB)";
    std::printf("%-38s %12s %12s %7.2f %12s\n", c.name.c_str(),
                Human(t).c_str(), Human(f).c_str(), ratio, peak_text.c_str());
    char line[512];
    std::snprintf(
        line, sizeof line,
        "%s    {\"case\": \"%s\", \"lookup_ns\": %.0f, \"floor_ns\": "
        "%.0f, \"ratio\": %.3f%s}",
        first ? "" : ",\n", c.name.c_str(), t, f, ratio,
        peak < 0 ? ""
                 : (", \"peak_heap_bytes\": " + std::to_string(peak)).c_str());
    json += line;
    first = false;
  }
  json += "\n  ]\n}\n";
  if (!json_path.empty()) std::ofstream(json_path) << json;
  return collector.failed ? 1 : 0;
}
