#ifndef SELVANE_FUZZ_QUERYORACLE_H_
#define SELVANE_FUZZ_QUERYORACLE_H_

#include <SelvaneLibrary/SelvaneLibrary.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

#include <string>

// Runs one query twice, from the same key and result records, and aborts
// the process (a finding for the fuzzer) when the two outcomes differ or a
// success reports a type the reader cannot have read. Queries keep no
// state, so the same question on the same file must get the same answer;
// the one exception, a table the archive library unpacked from a sector
// that unpacked short, is told apart by DamagedStreamWatch and not compared.
// Given the bytes of the file (of the table, for DBC) and the definition
// the query finds, the outcome must also equal the reference decoder's:
// status, key and result records alike.
// Returns the query's result. With SELVANE_FUZZ_VERBOSE set in the
// environment every outcome is printed to stderr.
struct KnownBytes {
  const std::string& bytes;
  const selvane::FieldMap& fields;
};
int CheckedQueryWDB(const CSelvaneObject& db, const std::wstring& path,
                    const DBParam_t& key, const DBParam_t& result,
                    const KnownBytes* known = nullptr);
int CheckedQueryDBC(const CSelvaneObject& db, const std::wstring& archive,
                    const std::string& table, const DBParam_t& key,
                    const DBParam_t& result, const KnownBytes* known = nullptr);

#endif  // SELVANE_FUZZ_QUERYORACLE_H_
