#ifndef SELVANE_TESTS_SUPPORT_REFERENCEDECODER_H_
#define SELVANE_TESTS_SUPPORT_REFERENCEDECODER_H_

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/FieldAttr.h>

#include <string>

// What one lookup means for the whole bytes of a table file, decoded plainly
// from the two formats one field at a time, without windows, batches or
// anything in place: the oracle that the readers, the fault tests and the
// fuzz targets are compared with.
//
// Each returns what a query returns (0 or -1) and leaves key and result as
// a query leaves them: the types written where a query writes them, the
// result's value members changed only on success (a text appended).
namespace reference {

// A WDB cache file: header, then records framed by entry id and data
// length, fields walked through the definitions in ascending order.
int QueryWdb(const std::string& file, const FieldMap& fields, DBParam_t& key,
             DBParam_t& result);

// A DBC table as the archive hands it out: header, fixed-size records,
// string block.
int QueryDbc(const std::string& table, const FieldMap& fields, DBParam_t& key,
             DBParam_t& result);

}  // namespace reference

#endif  // SELVANE_TESTS_SUPPORT_REFERENCEDECODER_H_
