#include "fuzz/TableOracle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/DamagedStreamWatch.h"

namespace {

bool Same(const DBParam_t& a, const DBParam_t& b) {
  return a.fieldIndex == b.fieldIndex && a.type == b.type &&
         a.intValue == b.intValue && a.strValue == b.strValue &&
         std::memcmp(&a.floatValue, &b.floatValue, sizeof a.floatValue) == 0;
}

[[noreturn]] void Fail(const char* what, const TableQuestion& q, int objectRc,
                       int tableRc) {
  std::fprintf(stderr,
               "table oracle: %s (key index %d, result index %d, object %d, "
               "table %d)\n",
               what, q.key.fieldIndex, q.result.fieldIndex, objectRc, tableRc);
  std::abort();
}

template <typename Open, typename Ask>
void Check(const Open& open, const Ask& ask,
           const std::vector<TableQuestion>& questions) {
  const unsigned long damaged = DamagedStreamWatch::Count();
  CSelvaneTable table;
  open(table);
  for (const TableQuestion& q : questions) {
    TableQuestion object = q, fromTable = q;
    const int objectRc = ask(object.key, object.result);
    const int tableRc = table.Query(fromTable.key, fromTable.result);
    if (DamagedStreamWatch::Count() != damaged) return;
    if (objectRc != tableRc || !Same(object.key, fromTable.key) ||
        !Same(object.result, fromTable.result)) {
      Fail("the table and the query object answer differently", q, objectRc,
           tableRc);
    }
    if (objectRc == 0 && !table.IsOpen()) {
      Fail("the object answers a file the table did not open", q, objectRc,
           tableRc);
    }
  }
}

}  // namespace

void CheckTableWDB(const CSelvaneObject& db, const std::wstring& path,
                   const std::vector<TableQuestion>& questions) {
  Check([&](CSelvaneTable& t) { t.OpenWDB(db, path); },
        [&](DBParam_t& k, DBParam_t& r) { return db.QueryWDB(path, k, r); },
        questions);
}

void CheckTableDBC(const CSelvaneObject& db, const std::wstring& archive,
                   const std::string& table,
                   const std::vector<TableQuestion>& questions) {
  Check([&](CSelvaneTable& t) { t.OpenDBC(db, archive, table); },
        [&](DBParam_t& k, DBParam_t& r) {
          return db.QueryDBC(archive, table, k, r);
        },
        questions);
}
