// Fuzz target for WDB cache files. The input is a query prefix (see
// QueryPrefix.h; the flags are unused) followed by the bytes of a WDB file,
// which is written to disk and queried through the query object with a
// fixed definition of every field type the reader reads or passes over.
// Every answer is checked against the reference decoder.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/Fixtures.h"
#include "fuzz/QueryOracle.h"
#include "fuzz/QueryPrefix.h"
#include "fuzz/ScratchDir.h"
#include "fuzz/TableOracle.h"
#include "tests/support/TempDir.h"

namespace {

struct Setup {
  ScratchDir dir{"wdb"};
  CSelvaneObject db;
  std::wstring path = Widen(dir.File(kWdbFileName));

  Setup() { LoadDefinitionsOrExit("fuzz_wdb", dir, WdbDefinitionXml(), &db); }
};

const Setup& Get() {
  static const Setup setup;
  return setup;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Get();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const Setup& s = Get();
  QueryPrefix prefix;
  if (!QueryPrefix::Decode(data, size, &prefix)) return 0;
  if (!s.dir.Write(kWdbFileName, data + QueryPrefix::kSize,
                   size - QueryPrefix::kSize)) {
    return 0;
  }
  const std::string file(
      reinterpret_cast<const char*>(data) + QueryPrefix::kSize,
      size - QueryPrefix::kSize);
  const KnownBytes known{file, WdbFields()};
  for (int i = 0; i < QueryPrefix::kQueries; ++i) {
    CheckedQueryWDB(s.db, s.path, prefix.Key(i), prefix.Result(i), &known);
  }
  // The same questions of the file opened once as a table.
  std::vector<TableQuestion> questions(QueryPrefix::kQueries);
  for (int i = 0; i < QueryPrefix::kQueries; ++i) {
    questions[static_cast<std::size_t>(i)] = {prefix.Key(i), prefix.Result(i)};
  }
  CheckTableWDB(s.db, s.path, questions);
  return 0;
}
