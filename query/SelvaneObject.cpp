#include <SelvaneLibrary/SelvaneObject.h>

#include <exception>

#include "query/ArchiveQuery.h"
#include "query/PathUtil.h"
#include "query/RunQuery.h"
#include "readers/WDBFileWrapper.h"

CSelvaneObject::CSelvaneObject() = default;

CSelvaneObject::CSelvaneObject(const CSelvaneObject& other) = default;

CSelvaneObject& CSelvaneObject::operator=(const CSelvaneObject& other) {
  if (this != &other) {
    // Copy first, so that a failed copy leaves this object as it was.
    selvane::CDBFieldManager copy(other.m_fieldManager);
    m_fieldManager = std::move(copy);
  }
  return *this;
}

CSelvaneObject::~CSelvaneObject() = default;

int CSelvaneObject::InitConfig(const std::wstring& configPath) {
  try {
    return m_fieldManager.LoadDefinitions(configPath) == 0 ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

int CSelvaneObject::QueryDBC(const std::wstring& archivePath,
                             const std::string& tablePath, DBParam_t& key,
                             DBParam_t& result) const {
  try {
    // The definition is filed under the name after the first backslash; the
    // archive is asked for the whole path.
    const selvane::FieldMap* fields =
        m_fieldManager.FindFields(AfterFirstBackslash(tablePath));
    if (fields == nullptr) return -1;
    return QueryArchiveTable(fields, archivePath, tablePath, key, result);
  } catch (...) {
    return -1;
  }
}

int CSelvaneObject::QueryWDB(const std::wstring& filePath, DBParam_t& key,
                             DBParam_t& result) const {
  try {
    std::string narrow;
    if (!NarrowExact(filePath, &narrow)) return -1;
    const selvane::FieldMap* fields =
        m_fieldManager.FindFields(AfterLastSeparator(narrow));
    if (fields == nullptr) return -1;
    return RunQuery<CWDBFileWrapper>(
        fields, [&](CWDBFileWrapper& reader) { return reader.Open(filePath); },
        key, result);
  } catch (...) {
    return -1;
  }
}
