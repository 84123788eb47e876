#ifndef SELVANE_BENCH_FLOORS_H_
#define SELVANE_BENCH_FLOORS_H_

#include <cstdint>
#include <string>

// The unavoidable work of a lookup, done by hand: read the file once and
// walk it in memory to the same answer the library gives. The benchmark
// reports each query's time as a ratio to its floor.

// WDB: one read call for the whole file, then the records in memory. The
// bench layout: id, length, cstring, int, int, amount (4 + skip), float.
// Key on field 0 (id) or field 3 (the int after the cstring); returns the
// float (field 6) of the first match, or NaN when nothing matches.
float WdbFloor(const std::string& path, int keyField, std::int32_t key,
               std::int32_t amountSkip);

// DBC: SFileOpenArchive + SFileOpenFileEx + one SFileReadFile of the whole
// table, then the records in memory. Key on an integer column or on a
// string column (through the string block); returns column resultColumn of
// the first match as an integer, or -1 when nothing matches.
std::int32_t DbcFloorInt(const std::string& archive, const std::string& table,
                         int keyColumn, std::int32_t key, int resultColumn);
std::int32_t DbcFloorString(const std::string& archive,
                            const std::string& table, int keyColumn,
                            const std::string& key, int resultColumn);

// Parsing only: the definition file loaded into a document and dropped.
bool XmlFloor(const std::string& path);

#endif  // SELVANE_BENCH_FLOORS_H_
