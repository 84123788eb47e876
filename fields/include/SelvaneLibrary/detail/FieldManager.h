#ifndef SELVANE_DETAIL_FIELDMANAGER_H_
#define SELVANE_DETAIL_FIELDMANAGER_H_

// Not interface: CSelvaneObject holds this by value; hosts cannot link to it.

#include <map>
#include <string>

#include <SelvaneLibrary/detail/FieldAttr.h>

namespace selvane {

// Every loaded table-file definition, keyed by bare file name.
// Definitions only accumulate: a load adds or replaces whole definitions,
// and a failed load changes nothing.
class CDBFieldManager {
 public:
  // The definition of one table file.
  struct DBFile_t {
    std::string note;
    FieldMap fields;
  };

  CDBFieldManager();
  CDBFieldManager(const CDBFieldManager& other);
  CDBFieldManager& operator=(const CDBFieldManager& other);
  CDBFieldManager(CDBFieldManager&& other) noexcept;
  CDBFieldManager& operator=(CDBFieldManager&& other) noexcept;
  virtual ~CDBFieldManager();

  // Loads a definition file and merges its tables. 0 on success, -1 when the
  // file cannot be read or parsed, its root is neither "DBCFile" nor
  // "WDBFile", or the path holds a NUL or a character above 0xFF.
  int LoadDefinitions(const std::wstring& path);

  // The fields of the table filed under exactly this name, or null.
  // Valid until that name is redefined or the manager is assigned or dies.
  const FieldMap* FindFields(const std::string& fileName) const;

  // The whole definition filed under exactly this name (note included), or
  // null. Same lifetime as FindFields.
  const DBFile_t* FindFile(const std::string& fileName) const;

 private:
  std::map<std::string, DBFile_t> files;
};

}  // namespace selvane

#endif  // SELVANE_DETAIL_FIELDMANAGER_H_
