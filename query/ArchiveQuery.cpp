#include "query/ArchiveQuery.h"

#include "query/RunQuery.h"
#include "readers/DBCFileWrapper.h"

int QueryArchiveTable(const selvane::FieldMap* fields,
                      const std::wstring& archivePath,
                      const std::string& tablePath, DBParam_t& key,
                      DBParam_t& result) noexcept {
  return RunQuery<CDBCFileWrapper>(
      fields,
      [&](CDBCFileWrapper& reader) {
        return reader.Open(archivePath, tablePath);
      },
      key, result);
}
