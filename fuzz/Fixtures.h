#ifndef SELVANE_FUZZ_FIXTURES_H_
#define SELVANE_FUZZ_FIXTURES_H_

#include <SelvaneLibrary/FieldAttr.h>

#include <string>

class CSelvaneObject;
class ScratchDir;

// The fixed definitions and sample files the fuzz targets and their seed
// generator share. The samples hold ids 1 to 3 with the texts "one", "two"
// and "three"; the second record is the one the seeds ask for.

// WDB cache file: id, length, Name (cstring), Count (integer), Price
// (amount, 4 bytes and 2 skipped), Kind (byte), Weight (float).
extern const char kWdbFileName[];
std::string WdbDefinitionXml();
// The same definition as the loader stores it, for the reference decoder.
const FieldMap& WdbFields();
// variant 0: three records; 1: an empty text and a negative byte; 2: a
// record whose data length is too short for its fields.
std::string SampleWdb(int variant);

// DBC table: Id (integer), Name (string), Weight (float), Kind (byte), Pad
// (no type, 3 bytes), Title (string), Flags (bit), an unlisted column and
// Count (integer). Filed as kDbcTableName, stored at kDbcTablePath.
extern const char kDbcTableName[];
extern const char kDbcTablePath[];
std::string DbcDefinitionXml();
const FieldMap& DbcFields();
// variant 0: three records; 1: shared and empty strings; 2: a string offset
// past the string block.
std::string SampleDbc(int variant);

// The table the archive target asks for: Id (integer), Name (string),
// Weight (float).
extern const char kArchiveTablePath[];
std::string ArchiveDefinitionXml();
// Ids 1 to records, texts repeating "one", "two", "three".
std::string SampleArchiveTable(int records = 3);

// Writes xml as dir's "defs.xml" and loads it into db. A target that cannot
// set itself up ends the process with a message naming it.
void LoadDefinitionsOrExit(const char* target, const ScratchDir& dir,
                           const std::string& xml, CSelvaneObject* db);

#endif  // SELVANE_FUZZ_FIXTURES_H_
