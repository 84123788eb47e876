// Fuzz target for DBC tables. The input is a query prefix (see
// QueryPrefix.h; flags bit 0 chooses zlib storage over plain) followed by
// the bytes of a DBC table, which is stored into a real archive made for it
// and queried through the query object with a fixed definition. Every
// answer is checked against the reference decoder.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "fuzz/Fixtures.h"
#include "fuzz/QueryOracle.h"
#include "fuzz/QueryPrefix.h"
#include "fuzz/ScratchDir.h"
#include "fuzz/TableOracle.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/TempDir.h"

namespace {

struct Setup {
  ScratchDir dir{"dbc"};
  CSelvaneObject db;
  std::string archive = dir.File("table.mpq");
  std::wstring wideArchive = Widen(archive);

  Setup() { LoadDefinitionsOrExit("fuzz_dbc", dir, DbcDefinitionXml(), &db); }
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
  const std::string table(
      reinterpret_cast<const char*>(data) + QueryPrefix::kSize,
      size - QueryPrefix::kSize);
  const MpqBuilder::Storage storage = (prefix.flags() & 1) != 0
                                          ? MpqBuilder::Storage::kZlib
                                          : MpqBuilder::Storage::kPlain;
  try {
    MpqBuilder().Add(kDbcTablePath, table, storage).Write(s.archive);
  } catch (const std::exception& e) {
    // Our own writing failed, not the library under test.
    std::fprintf(stderr, "fuzz_dbc: %s\n", e.what());
    std::abort();
  }
  const KnownBytes known{table, DbcFields()};
  for (int i = 0; i < QueryPrefix::kQueries; ++i) {
    CheckedQueryDBC(s.db, s.wideArchive, kDbcTablePath, prefix.Key(i),
                    prefix.Result(i), &known);
  }
  // The same questions of the file opened once as a table.
  std::vector<TableQuestion> questions(QueryPrefix::kQueries);
  for (int i = 0; i < QueryPrefix::kQueries; ++i) {
    questions[static_cast<std::size_t>(i)] = {prefix.Key(i), prefix.Result(i)};
  }
  CheckTableDBC(s.db, s.wideArchive, kDbcTablePath, questions);
  return 0;
}
