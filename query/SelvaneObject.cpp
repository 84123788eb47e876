#include <SelvaneLibrary/SelvaneObject.h>

#include <exception>

#include "query/PathUtil.h"
#include "readers/DBCFileWrapper.h"
#include "readers/WDBFileWrapper.h"

namespace {

// Opens, attaches the definitions, asks, and lets the reader close on the way
// out. Nothing may escape the library boundary: any exception becomes -1.
template <typename Reader, typename OpenFn>
int RunQuery(const selvane::FieldMap* fields, OpenFn open, DBParam_t& key,
             DBParam_t& result) noexcept {
  try {
    Reader reader;
    if (open(reader) != 0) return -1;
    if (reader.SetDefinition(fields) != 0) return -1;
    return reader.Query(key, result) == 0 ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

}  // namespace

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
    return RunQuery<CDBCFileWrapper>(
        fields,
        [&](CDBCFileWrapper& reader) {
          return reader.Open(archivePath, tablePath);
        },
        key, result);
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
