#ifndef SELVANE_FUZZ_TABLEORACLE_H_
#define SELVANE_FUZZ_TABLEORACLE_H_

#include <SelvaneLibrary/SelvaneLibrary.h>

#include <string>
#include <vector>

// The table as a second oracle: opens the file once as a CSelvaneTable and
// asks it every question of the list, aborting the process (a finding)
// when an answer, or a write to either record, differs from the query
// object's on the same file. A table opens when and only when the object
// can read the file; an unopened table answers nothing. Answers read from a
// sector that unpacked short (DamagedStreamWatch) are not compared.
struct TableQuestion {
  DBParam_t key, result;
};

void CheckTableWDB(const CSelvaneObject& db, const std::wstring& path,
                   const std::vector<TableQuestion>& questions);
void CheckTableDBC(const CSelvaneObject& db, const std::wstring& archive,
                   const std::string& table,
                   const std::vector<TableQuestion>& questions);

#endif  // SELVANE_FUZZ_TABLEORACLE_H_
