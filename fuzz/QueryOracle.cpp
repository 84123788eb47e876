#include "fuzz/QueryOracle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/DamagedStreamWatch.h"
#include "tests/support/ReferenceDecoder.h"

namespace {

struct Outcome {
  int rc;
  DBParam_t key, result;
};

bool Same(const DBParam_t& a, const DBParam_t& b) {
  // Floats by their bits: a NaN read twice is the same answer.
  return a.fieldIndex == b.fieldIndex && a.type == b.type &&
         a.intValue == b.intValue && a.strValue == b.strValue &&
         std::memcmp(&a.floatValue, &b.floatValue, sizeof a.floatValue) == 0;
}

[[noreturn]] void Fail(const char* what, const Outcome& o) {
  std::fprintf(stderr,
               "query oracle: %s (rc %d, key index %d type %d, result index "
               "%d type %d)\n",
               what, o.rc, o.key.fieldIndex, o.key.type, o.result.fieldIndex,
               o.result.type);
  std::abort();
}

// SELVANE_FUZZ_VERBOSE set: every outcome is printed, to see what an input
// (a seed, a crash) asks and gets.
bool Verbose() {
  static const bool verbose = std::getenv("SELVANE_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

template <typename Ask, typename Reference>
int Check(const Ask& ask, const Reference& reference, const DBParam_t& key,
          const DBParam_t& result, bool (*readable)(int)) {
  const unsigned long damaged = DamagedStreamWatch::Count();
  Outcome first{0, key, result};
  first.rc = ask(first.key, first.result);
  Outcome second{0, key, result};
  second.rc = ask(second.key, second.result);
  if (first.rc != 0 && first.rc != -1) Fail("status neither 0 nor -1", first);
  // Bytes of a sector that unpacked short are not the same twice (see
  // DamagedStreamWatch.h); only for those reads is the comparison skipped.
  const bool comparable = DamagedStreamWatch::Count() == damaged;
  if (comparable && (first.rc != second.rc || !Same(first.key, second.key) ||
                     !Same(first.result, second.result))) {
    Fail("the same query answered twice differently", first);
  }
  Outcome want{-1, key, result};
  if (comparable && reference(want.key, want.result, &want.rc) &&
      (first.rc != want.rc || !Same(first.key, want.key) ||
       !Same(first.result, want.result))) {
    std::fprintf(
        stderr, "reference: rc %d, key type %d, result type %d int %d\n",
        want.rc, want.key.type, want.result.type, want.result.intValue);
    Fail("the answer differs from the reference decoder's", first);
  }
  if (first.rc == 0 && !readable(first.result.type)) {
    Fail("success with a type that is never read", first);
  }
  // A failed query never changes the result's value members.
  if (first.rc != 0 &&
      (first.result.intValue != result.intValue ||
       first.result.strValue != result.strValue ||
       std::memcmp(&first.result.floatValue, &result.floatValue,
                   sizeof result.floatValue) != 0)) {
    Fail("failed query changed the result value", first);
  }
  if (Verbose()) {
    std::fprintf(stderr,
                 "query %d -> %d: rc %d, type %d, int %d, text \"%s\"%s\n",
                 key.fieldIndex, result.fieldIndex, first.rc, first.result.type,
                 first.result.intValue, first.result.strValue.c_str(),
                 comparable ? "" : " (short sector: not compared)");
  }
  return first.rc;
}

bool WdbReadable(int type) {
  return type == 0 || type == 2 || type == 4 || type == 5;
}

bool DbcReadable(int type) { return type >= 0 && type <= 6; }

}  // namespace

int CheckedQueryWDB(const CSelvaneObject& db, const std::wstring& path,
                    const DBParam_t& key, const DBParam_t& result,
                    const KnownBytes* known) {
  return Check(
      [&](DBParam_t& k, DBParam_t& r) { return db.QueryWDB(path, k, r); },
      [known](DBParam_t& k, DBParam_t& r, int* rc) {
        if (known != nullptr) {
          *rc = reference::QueryWdb(known->bytes, known->fields, k, r);
        }
        return known != nullptr;
      },
      key, result, WdbReadable);
}

int CheckedQueryDBC(const CSelvaneObject& db, const std::wstring& archive,
                    const std::string& table, const DBParam_t& key,
                    const DBParam_t& result, const KnownBytes* known) {
  return Check([&](DBParam_t& k,
                   DBParam_t& r) { return db.QueryDBC(archive, table, k, r); },
               [known](DBParam_t& k, DBParam_t& r, int* rc) {
                 if (known != nullptr) {
                   *rc = reference::QueryDbc(known->bytes, known->fields, k, r);
                 }
                 return known != nullptr;
               },
               key, result, DbcReadable);
}
