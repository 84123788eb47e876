#ifndef SELVANE_SELVANEOBJECT_H_
#define SELVANE_SELVANEOBJECT_H_

#include <string>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/Export.h>
#include <SelvaneLibrary/FieldManager.h>

// The library's one entry point. Load field definitions with InitConfig, then
// ask single-value lookups: in table T, the first record whose key field holds
// the key's value; its result field goes into the result record.
// Every operation returns 0 on success and -1 on any failure.
class SELVANE_API CSelvaneObject {
 public:
  CSelvaneObject();
  CSelvaneObject(const CSelvaneObject& other);
  CSelvaneObject& operator=(const CSelvaneObject& other);
  virtual ~CSelvaneObject();

  // Loads a field-definition file; definitions accumulate across calls and a
  // later definition of the same file name replaces the earlier one.
  int InitConfig(const std::wstring& configPath);

  // Looks up a DBC table inside an MPQ archive. The definition is found by
  // the table path after its first backslash.
  int QueryDBC(const std::wstring& archivePath, const std::string& tablePath,
               DBParam_t& key, DBParam_t& result) const;

  // Looks up a WDB cache file. The definition is found by the file name after
  // the last directory separator.
  int QueryWDB(const std::wstring& filePath, DBParam_t& key,
               DBParam_t& result) const;

 private:
  // A table takes the definitions it opens with.
  friend class CSelvaneTable;

  CDBFieldManager m_fieldManager;
};

#endif  // SELVANE_SELVANEOBJECT_H_
