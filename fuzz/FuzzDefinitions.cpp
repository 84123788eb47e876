// Fuzz target for field-definition files. The input is written as a
// definition file and loaded with InitConfig into a copy of a query object
// that already holds the fixed definitions, so that it can replace or add
// to them. Then a few lookups run against what loaded: on a fixed WDB file
// and a fixed archive, for the table names the input may define.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "fuzz/Fixtures.h"
#include "fuzz/QueryOracle.h"
#include "fuzz/ScratchDir.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/TempDir.h"

namespace {

struct Setup {
  ScratchDir dir{"definitions"};
  CSelvaneObject base;
  std::wstring input = Widen(dir.File("input.xml"));
  std::wstring wdb = Widen(dir.File(kWdbFileName));
  std::wstring archive = Widen(dir.File("tables.mpq"));

  Setup() {
    bool ok = dir.Write(kWdbFileName, SampleWdb(0)) &&
              dir.Write("wdb.xml", WdbDefinitionXml()) &&
              dir.Write("dbc.xml", DbcDefinitionXml()) &&
              base.InitConfig(Widen(dir.File("wdb.xml"))) == 0 &&
              base.InitConfig(Widen(dir.File("dbc.xml"))) == 0;
    try {
      MpqBuilder()
          .Add(kDbcTablePath, SampleDbc(0))
          .Add(kArchiveTablePath, SampleArchiveTable(),
               MpqBuilder::Storage::kZlib)
          .Write(dir.File("tables.mpq"));
    } catch (const std::exception&) {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "fuzz_definitions: cannot set up in %s\n",
                   dir.path().c_str());
      std::exit(1);
    }
  }
};

const Setup& Get() {
  static const Setup setup;
  return setup;
}

struct Question {
  std::int32_t keyIndex, resultIndex;
};

// Keyed on the second sample record: by id, text or count.
DBParam_t KeyOf(std::int32_t index) {
  DBParam_t key;
  key.fieldIndex = index;
  key.intValue = 2;
  key.strValue = "two";
  key.floatValue = 2.5f;
  return key;
}

DBParam_t ResultOf(std::int32_t index) {
  DBParam_t result;
  result.fieldIndex = index;
  return result;
}

void Ask(const Setup& s, const CSelvaneObject& db) {
  static const Question kWdb[] = {{0, 2}, {2, 3}, {3, 6}, {5, 1}};
  static const Question kDbc[] = {{0, 1}, {1, 5}, {2, 3}, {8, 0}};
  for (const Question& q : kWdb) {
    CheckedQueryWDB(db, s.wdb, KeyOf(q.keyIndex), ResultOf(q.resultIndex));
  }
  for (const Question& q : kDbc) {
    CheckedQueryDBC(db, s.archive, kDbcTablePath, KeyOf(q.keyIndex),
                    ResultOf(q.resultIndex));
  }
  CheckedQueryDBC(db, s.archive, kArchiveTablePath, KeyOf(0), ResultOf(1));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const Setup& s = Get();
  if (!s.dir.Write("input.xml", data, size)) return 0;
  CSelvaneObject db(s.base);
  if (db.InitConfig(s.input) != 0) return 0;
  Ask(s, db);
  // An assigned copy answers as the object it was made from.
  CSelvaneObject copy;
  copy = db;
  DBParam_t key = KeyOf(0), result = ResultOf(2);
  DBParam_t copyKey = KeyOf(0), copyResult = ResultOf(2);
  const int rc = db.QueryWDB(s.wdb, key, result);
  if (copy.QueryWDB(s.wdb, copyKey, copyResult) != rc ||
      copyResult.type != result.type ||
      copyResult.strValue != result.strValue ||
      copyResult.intValue != result.intValue) {
    std::fprintf(stderr, "fuzz_definitions: the copy answers differently\n");
    std::abort();
  }
  return 0;
}
