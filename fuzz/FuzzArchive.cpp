// Fuzz target for archive files. The input is the archive itself, written
// to disk and asked through the query object for a fixed table with one of
// two fixed questions. The archive guard decides which archives the archive
// library may open and which stored tables it may read; a crash or hang
// here is either a layout the guard should refuse or a fault in the table
// reader. The seeds store the table in every layout the library writes, so
// mutations reach the table's own sector table and sectors as well as the
// archive's header and tables.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdint>

#include "fuzz/Fixtures.h"
#include "fuzz/QueryOracle.h"
#include "fuzz/ScratchDir.h"
#include "fuzz/TableOracle.h"
#include "tests/support/TempDir.h"

namespace {

struct Setup {
  ScratchDir dir{"archive"};
  CSelvaneObject db;
  std::wstring archive = Widen(dir.File("input.mpq"));

  Setup() {
    LoadDefinitionsOrExit("fuzz_archive", dir, ArchiveDefinitionXml(), &db);
  }
};

const Setup& Get() {
  static const Setup setup;
  return setup;
}

// One question per input, each open being the costly part: id 2 for its
// name, or the name "two" for its weight, by the input's size.
void Ask(const Setup& s, std::size_t size) {
  DBParam_t key, result;
  if (size % 2 == 0) {
    key.fieldIndex = 0;
    key.intValue = 2;
    result.fieldIndex = 1;
  } else {
    key.fieldIndex = 1;
    key.strValue = "two";
    result.fieldIndex = 2;
  }
  CheckedQueryDBC(s.db, s.archive, kArchiveTablePath, key, result);
  // The same question of the table opened once.
  CheckTableDBC(s.db, s.archive, kArchiveTablePath, {{key, result}});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const Setup& s = Get();
  if (!s.dir.Write("input.mpq", data, size)) return 0;
  Ask(s, size);
  return 0;
}
