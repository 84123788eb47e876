#ifndef SELVANE_QUERY_ARCHIVEQUERY_H_
#define SELVANE_QUERY_ARCHIVEQUERY_H_

#include <string>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

// One lookup in the table tablePath inside the archive at archivePath, with
// the table's definitions already found. 0 when result was filled, -1
// otherwise. ArchiveQuery.cpp asks the DBC reader; NoArchiveQuery.cpp, built
// when the archive library is left out, always answers -1.
int QueryArchiveTable(const selvane::FieldMap* fields,
                      const std::wstring& archivePath,
                      const std::string& tablePath, DBParam_t& key,
                      DBParam_t& result) noexcept;

#endif  // SELVANE_QUERY_ARCHIVEQUERY_H_
