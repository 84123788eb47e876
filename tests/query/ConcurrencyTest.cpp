// Queries only read the definitions, so several threads may query one
// shared const object at once. Every answer given under concurrency must be
// the one the same query gives when asked alone.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

namespace {

constexpr int kThreads = 8;
constexpr int kQueriesPerThread = 300;

// One record's values; each table lays them out in its own way.
struct Row {
  std::int32_t id;
  std::string name;
  std::int32_t amount;
  float ratio;
  std::uint8_t flag;
};

Row MakeRow(int table, int i) {
  return Row{table * 100000 + i,
             "n" + std::to_string(table) + "_" + std::to_string(i),
             7 * i + table, 0.25f * static_cast<float>(i),
             static_cast<std::uint8_t>((37 * i + table) & 0xFF)};
}

// The values a key can be asked by.
enum class By { kId, kName, kAmount, kRatio, kFlag };

// A table file and, per value, the field index that holds it (-1: none).
struct Target {
  bool wdb;
  const char* file;   // WDB file, or archive
  const char* table;  // inside the archive
  int salt;           // MakeRow's table number
  int rows;
  std::int32_t fields;  // result indexes run 0 .. fields-1
  std::int32_t index[5];
};

// a.wdb: id, length, name, amount, ratio, flag. b.wdb: id, length, amount,
// name. Big.dbc and Small.dbc: id, name, ratio, flag, amount; stored plain
// in p.mpq and zlib-compressed in z.mpq, Big in a folder in z.mpq.
const Target kTargets[] = {
    {true, "a.wdb", "", 1, 600, 6, {0, 2, 3, 4, 5}},
    {true, "b.wdb", "", 2, 40, 4, {0, 3, 2, -1, -1}},
    {false, "p.mpq", "Big.dbc", 3, 3000, 5, {0, 1, 4, 2, 3}},
    {false, "z.mpq", "Data\\Big.dbc", 3, 3000, 5, {0, 1, 4, 2, 3}},
    {false, "p.mpq", "Small.dbc", 4, 5, 5, {0, 1, 4, 2, 3}},
    {false, "z.mpq", "Small.dbc", 4, 5, 5, {0, 1, 4, 2, 3}},
};

std::string WdbA() {
  WdbBuilder wdb;
  for (int i = 0; i < 600; ++i) {
    const Row r = MakeRow(1, i);
    wdb.Record(r.id).CString(r.name).Int(r.amount).Float(r.ratio).Byte(r.flag);
  }
  return wdb.bytes();
}

std::string WdbB() {
  WdbBuilder wdb;
  for (int i = 0; i < 40; ++i) {
    const Row r = MakeRow(2, i);
    wdb.Record(r.id).Int(r.amount).CString(r.name);
  }
  return wdb.bytes();
}

std::string Dbc(int salt, int rows) {
  DbcBuilder t;
  for (int i = 0; i < rows; ++i) {
    const Row r = MakeRow(salt, i);
    t.Record(
        {Int(r.id), Str(r.name), Float(r.ratio), Byte(r.flag), Int(r.amount)});
  }
  return t.Build();
}

using Attrs = DefinitionBuilder::Attributes;
Attrs F(int position, const char* type) {
  const bool byte = std::string(type) == "byte";
  return {{"position", std::to_string(position)},
          {"type", type},
          {"size", std::string(type) == "cstring" ? "0"
                   : byte                         ? "1"
                                                  : "4"}};
}

std::string DefinitionsXml() {
  DefinitionBuilder defs;
  defs.Table("a.wdb")
      .Field("Id", F(0, "integer"))
      .Field("Length", F(1, "integer"))
      .Field("Name", F(2, "cstring"))
      .Field("Amount", F(3, "integer"))
      .Field("Ratio", F(4, "float"))
      .Field("Flag", F(5, "byte"));
  defs.Table("b.wdb")
      .Field("Id", F(0, "integer"))
      .Field("Length", F(1, "integer"))
      .Field("Amount", F(2, "integer"))
      .Field("Name", F(3, "cstring"));
  for (const char* name : {"Big.dbc", "Small.dbc"}) {
    defs.Table(name)
        .Field("Id", F(0, "integer"))
        .Field("Name", F(1, "string"))
        .Field("Ratio", F(2, "float"))
        .Field("Flag", F(3, "byte"))
        .Field("Amount", F(4, "integer"));
  }
  return defs.Xml();
}

// One query: a target, a key and the result field wanted.
struct Probe {
  const Target* target;
  DBParam_t key;
  std::int32_t resultIndex;
};

// Keys by every value a target holds, taken from a random row, or (one in
// five) a value no row holds; results from any field.
std::vector<Probe> MakeProbes(int count) {
  std::mt19937 gen(20240611);
  std::vector<Probe> probes;
  while (static_cast<int>(probes.size()) < count) {
    const Target& t = kTargets[gen() % std::size(kTargets)];
    const auto by = static_cast<By>(gen() % 5);
    const std::int32_t index = t.index[static_cast<int>(by)];
    if (index < 0) continue;
    const bool miss = gen() % 5 == 0;
    const int row =
        miss ? t.rows + 1000
             : static_cast<int>(gen() % static_cast<unsigned>(t.rows));
    const Row r = MakeRow(t.salt, row);
    Probe s{&t, {}, static_cast<std::int32_t>(gen() % t.fields)};
    s.key.fieldIndex = index;
    switch (by) {
      case By::kId:
        s.key.intValue = r.id;
        break;
      case By::kName:
        s.key.strValue = r.name;
        break;
      case By::kAmount:
        s.key.intValue = r.amount;
        break;
      case By::kRatio:
        s.key.floatValue = r.ratio;
        break;
      case By::kFlag:
        // A flag no row holds does not exist among 256 byte values.
        s.key.intValue = miss ? 1000 : static_cast<std::int8_t>(r.flag);
        break;
    }
    probes.push_back(s);
  }
  return probes;
}

struct Answer {
  int status;
  std::int32_t keyType, type, intValue;
  std::string text;
  std::uint32_t floatBits;

  bool operator==(const Answer& o) const {
    return std::tie(status, keyType, type, intValue, text, floatBits) ==
           std::tie(o.status, o.keyType, o.type, o.intValue, o.text,
                    o.floatBits);
  }
};

// Asks a probe through query(key, result).
template <typename Query>
Answer AskWith(const Probe& s, const Query& query) {
  DBParam_t key = s.key;
  DBParam_t result;
  result.fieldIndex = s.resultIndex;
  const int status = query(key, result);
  std::uint32_t bits;
  std::memcpy(&bits, &result.floatValue, sizeof bits);
  return Answer{status,          key.type,        result.type,
                result.intValue, result.strValue, bits};
}

Answer Ask(const CSelvaneObject& db, const std::string& dir, const Probe& s) {
  const std::wstring path = Widen(JoinPath(dir, s.target->file));
  return AskWith(s, [&](DBParam_t& key, DBParam_t& result) {
    return s.target->wdb ? db.QueryWDB(path, key, result)
                         : db.QueryDBC(path, s.target->table, key, result);
  });
}

// Each thread asks its own shuffled sequence of the probes; all start
// together. answers[t][k] answers probes[order[t][k]].
struct Runs {
  std::vector<std::vector<std::size_t>> order;
  std::vector<std::vector<Answer>> answers;
};

Runs RunThreads(const std::vector<Probe>& probes,
                const std::function<Answer(const Probe&)>& ask) {
  Runs runs;
  runs.order.resize(kThreads);
  runs.answers.resize(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    std::mt19937 gen(static_cast<unsigned>(t));
    for (int k = 0; k < kQueriesPerThread; ++k) {
      runs.order[t].push_back(gen() % probes.size());
    }
  }
  std::atomic<int> waiting{kThreads};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      for (std::size_t i : runs.order[t]) {
        runs.answers[t].push_back(ask(probes[i]));
      }
    });
  }
  for (std::thread& th : threads) th.join();
  return runs;
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  // The library must make its first archive opens in the test itself, as a
  // host does. Where the archive library is shared with this program, the
  // files are written by a child process; on Windows the DLL holds its own
  // copy of it, and this process writes them.
  void SetUp() override {
#ifdef _WIN32
    ASSERT_TRUE(WriteFiles());
#else
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) _exit(WriteFiles() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
    ASSERT_EQ(0, db_.InitConfig(DefinitionBuilder::WriteRaw(dir_, "defs.xml",
                                                            DefinitionsXml())));
  }

  bool WriteFiles() const {
    try {
      dir_.Write("a.wdb", WdbA());
      dir_.Write("b.wdb", WdbB());
      MpqBuilder()
          .Add("Big.dbc", Dbc(3, 3000))
          .Add("Small.dbc", Dbc(4, 5))
          .Write(dir_.File("p.mpq"));
      MpqBuilder()
          .Add("Data\\Big.dbc", Dbc(3, 3000), MpqBuilder::Storage::kZlib)
          .Add("Small.dbc", Dbc(4, 5), MpqBuilder::Storage::kZlib)
          .Write(dir_.File("z.mpq"));
      return true;
    } catch (...) {
      return false;
    }
  }

  // Compares every threaded answer with the serial one; returns how many
  // differ.
  int Mismatches(const Runs& runs, const std::vector<Answer>& serial) const {
    int wrong = 0;
    for (int t = 0; t < kThreads; ++t) {
      for (std::size_t k = 0; k < runs.order[t].size(); ++k) {
        if (!(runs.answers[t][k] == serial[runs.order[t][k]])) ++wrong;
      }
    }
    return wrong;
  }

  std::function<Answer(const Probe&)> ObjectAsks() const {
    const CSelvaneObject& shared = db_;
    const std::string dir = dir_.path();
    return [&shared, dir](const Probe& s) { return Ask(shared, dir, s); };
  }

  std::vector<Answer> Serial(const std::vector<Probe>& probes) const {
    std::vector<Answer> serial;
    for (const Probe& s : probes) serial.push_back(Ask(db_, dir_.path(), s));
    return serial;
  }

  TempDir dir_;
  CSelvaneObject db_;
};

TEST_F(ConcurrencyTest, ThreadsGetTheSerialAnswers) {
  const std::vector<Probe> probes = MakeProbes(120);
  const std::vector<Answer> serial = Serial(probes);
  // The mix holds hits and misses, text results, and both kinds of file.
  int hits = 0, misses = 0, texts = 0, wdb = 0;
  for (std::size_t i = 0; i < probes.size(); ++i) {
    serial[i].status == 0 ? ++hits : ++misses;
    if (serial[i].status == 0 && !serial[i].text.empty()) ++texts;
    if (probes[i].target->wdb) ++wdb;
  }
  EXPECT_GT(hits, 60);
  EXPECT_GT(misses, 10);
  EXPECT_GT(texts, 10);
  EXPECT_GT(wdb, 20);
  EXPECT_LT(wdb, 100);

  EXPECT_EQ(0, Mismatches(RunThreads(probes, ObjectAsks()), serial));
}

// In a process of its own (as ctest runs each test) the threads make the
// process's first archive opens at the same moment.
TEST_F(ConcurrencyTest, FirstArchiveOpensFromManyThreadsAtOnce) {
  std::vector<Probe> probes;
  for (const Probe& s : MakeProbes(200)) {
    if (!s.target->wdb) probes.push_back(s);
  }
  const Runs runs = RunThreads(probes, ObjectAsks());
  EXPECT_EQ(0, Mismatches(runs, Serial(probes)));
}

// A table of each target, every thread asking it from the start, before
// any index or field of it is at hand: each is made once, and every answer
// (the first uses and the later ones) is the query object's.
TEST_F(ConcurrencyTest, ThreadsShareATableOfEachTarget) {
  const std::vector<Probe> probes = MakeProbes(300);
  const std::vector<Answer> serial = Serial(probes);
  for (const Target& target : kTargets) {
    SCOPED_TRACE(std::string(target.file) + " " + target.table);
    std::vector<Probe> mine;
    std::vector<Answer> want;
    for (std::size_t i = 0; i < probes.size(); ++i) {
      if (probes[i].target != &target) continue;
      mine.push_back(probes[i]);
      want.push_back(serial[i]);
    }
    const std::wstring path = Widen(JoinPath(dir_.path(), target.file));
    CSelvaneTable table;
    ASSERT_EQ(0, target.wdb ? table.OpenWDB(db_, path)
                            : table.OpenDBC(db_, path, target.table));
    const CSelvaneTable& shared = table;
    const Runs runs = RunThreads(mine, [&](const Probe& s) {
      return AskWith(s, [&](DBParam_t& key, DBParam_t& result) {
        return shared.Query(key, result);
      });
    });
    EXPECT_EQ(0, Mismatches(runs, want));
  }
}

// One const table queried from many threads at once, every thread starting
// on fields whose index does not exist yet: each index is built once and
// every answer is the query object's.
TEST_F(ConcurrencyTest, ThreadsShareOneTable) {
  TempDir dir;
  DefinitionBuilder defs("WDBFile");
  defs.Table("items.wdb")
      .Field("Id", {{"position", "0"}, {"type", "integer"}})
      .Field("Length", {{"position", "1"}, {"type", "integer"}})
      .Field("Name", {{"position", "2"}, {"type", "cstring"}})
      .Field("Level", {{"position", "3"}, {"type", "integer"}, {"size", "4"}})
      .Field("Rate", {{"position", "4"}, {"type", "float"}, {"size", "4"}});
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir, "defs.xml")));
  WdbBuilder wdb;
  for (int i = 0; i < 2000; ++i) {
    wdb.Record(i % 700)
        .CString("n" + std::to_string(i % 300))
        .Int(i % 50)
        .Float(static_cast<float>(i % 40) / 4.0f);
  }
  const std::wstring path = Widen(dir.Write("items.wdb", wdb.bytes()));
  CSelvaneTable table;
  ASSERT_EQ(0, table.OpenWDB(db, path));
  const CSelvaneTable& shared = table;

  struct Ask {
    DBParam_t key, result;
  };
  std::mt19937 rng(7);
  std::vector<Ask> asks;
  for (int q = 0; q < 400; ++q) {
    Ask a;
    a.key.fieldIndex = static_cast<std::int32_t>(rng() % 5);
    a.key.intValue = static_cast<std::int32_t>(rng() % 60);
    a.key.floatValue = static_cast<float>(rng() % 45) / 4.0f;
    a.key.strValue = "n" + std::to_string(rng() % 320);
    a.result.fieldIndex = static_cast<std::int32_t>(rng() % 5);
    asks.push_back(a);
  }
  std::vector<Ask> want = asks;
  std::vector<int> wantRc;
  for (Ask& a : want) wantRc.push_back(db.QueryWDB(path, a.key, a.result));

  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = 0; i < asks.size(); ++i) {
        const std::size_t q =
            (i + static_cast<std::size_t>(t) * 50) % asks.size();
        Ask a = asks[q];
        const int rc = shared.Query(a.key, a.result);
        if (rc != wantRc[q] || a.key.type != want[q].key.type ||
            a.result.type != want[q].result.type ||
            a.result.intValue != want[q].result.intValue ||
            a.result.strValue != want[q].result.strValue ||
            std::memcmp(&a.result.floatValue, &want[q].result.floatValue, 4) !=
                0) {
          ++mismatches;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, mismatches.load());
}

}  // namespace
