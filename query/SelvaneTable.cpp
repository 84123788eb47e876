#include <SelvaneLibrary/SelvaneTable.h>

#include <new>

#include "query/PathUtil.h"
#include "tables/TableSnapshot.h"

using selvane::TableStatus;

struct CSelvaneTable::Impl {
  std::unique_ptr<CTableSnapshot> snapshot;
};

namespace {

// Runs an open step; what it throws becomes a status.
template <typename Step>
TableStatus Guarded(const Step& step) noexcept {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return TableStatus::kOutOfMemory;
  } catch (...) {
    return TableStatus::kFileUnopenable;
  }
}

}  // namespace

CSelvaneTable::CSelvaneTable() = default;

CSelvaneTable::CSelvaneTable(CSelvaneTable&& other) noexcept
    : m_impl(std::move(other.m_impl)), m_status(other.m_status) {
  other.m_status = TableStatus::kClosed;
}

CSelvaneTable& CSelvaneTable::operator=(CSelvaneTable&& other) noexcept {
  if (this != &other) {
    m_impl = std::move(other.m_impl);
    m_status = other.m_status;
    other.m_status = TableStatus::kClosed;
  }
  return *this;
}

CSelvaneTable::~CSelvaneTable() = default;

int CSelvaneTable::Adopt(std::unique_ptr<Impl> impl, TableStatus status) {
  m_status = status;
  if (status != TableStatus::kOpen) return -1;
  m_impl = std::move(impl);
  return 0;
}

int CSelvaneTable::OpenWDB(const CSelvaneObject& definitions,
                           const std::wstring& filePath) {
  Close();
  auto impl = std::unique_ptr<Impl>(new (std::nothrow) Impl);
  const TableStatus status = Guarded([&] {
    if (!impl) return TableStatus::kOutOfMemory;
    // The definition is found as QueryWDB finds it.
    std::string narrow;
    if (!NarrowExact(filePath, &narrow)) return TableStatus::kFileUnopenable;
    const FieldMap* fields =
        definitions.m_fieldManager.FindFields(AfterLastSeparator(narrow));
    if (fields == nullptr) return TableStatus::kNoDefinition;
    return OpenWdbSnapshot(*fields, filePath, &impl->snapshot);
  });
  return Adopt(std::move(impl), status);
}

int CSelvaneTable::OpenDBC(const CSelvaneObject& definitions,
                           const std::wstring& archivePath,
                           const std::string& tablePath) {
  try {
    return OpenDBC(definitions, std::vector<std::wstring>{archivePath},
                   tablePath);
  } catch (...) {
    Close();
    m_status = TableStatus::kOutOfMemory;
    return -1;
  }
}

int CSelvaneTable::OpenDBC(const CSelvaneObject& definitions,
                           const std::vector<std::wstring>& archivePaths,
                           const std::string& tablePath) {
  Close();
  auto impl = std::unique_ptr<Impl>(new (std::nothrow) Impl);
  const TableStatus status = Guarded([&] {
    if (!impl) return TableStatus::kOutOfMemory;
    // The definition is found as QueryDBC finds it.
    const FieldMap* fields =
        definitions.m_fieldManager.FindFields(AfterFirstBackslash(tablePath));
    if (fields == nullptr) return TableStatus::kNoDefinition;
    return OpenDbcSnapshot(*fields, archivePaths, tablePath, &impl->snapshot);
  });
  return Adopt(std::move(impl), status);
}

void CSelvaneTable::Close() {
  m_impl.reset();
  m_status = TableStatus::kClosed;
}

bool CSelvaneTable::IsOpen() const { return m_impl != nullptr; }

TableStatus CSelvaneTable::Status() const { return m_status; }

const char* CSelvaneTable::StatusText(TableStatus status) {
  switch (status) {
    case TableStatus::kOpen:
      return "open";
    case TableStatus::kClosed:
      return "not open";
    case TableStatus::kNoDefinition:
      return "no definition for the table";
    case TableStatus::kFileUnopenable:
      return "the file or archive cannot be opened or read";
    case TableStatus::kTableNotFound:
      return "the table is in none of the archives";
    case TableStatus::kHeaderUnreadable:
      return "shorter than its 20-byte header";
    case TableStatus::kOutOfMemory:
      return "not enough memory";
  }
  return "unknown status";
}

int CSelvaneTable::Query(DBParam_t& key, DBParam_t& result) const {
  try {
    return m_impl ? m_impl->snapshot->Query(key, result) : -1;
  } catch (...) {
    return -1;
  }
}

int CSelvaneTable::FindAll(DBParam_t& key,
                           std::vector<std::int32_t>& records) const {
  try {
    if (!m_impl) {
      records.clear();
      return -1;
    }
    return m_impl->snapshot->FindAll(key, records);
  } catch (...) {
    records.clear();
    return -1;
  }
}

std::int32_t CSelvaneTable::RecordCount() const {
  return m_impl ? m_impl->snapshot->RecordCount() : 0;
}

std::int32_t CSelvaneTable::FieldCount() const {
  return m_impl ? m_impl->snapshot->FieldCount() : 0;
}

int CSelvaneTable::Read(std::int32_t record, DBParam_t& field) const {
  try {
    return m_impl ? m_impl->snapshot->Read(record, field) : -1;
  } catch (...) {
    return -1;
  }
}

std::int32_t CSelvaneTable::FieldType(std::int32_t fieldIndex) const {
  try {
    return m_impl ? m_impl->snapshot->FieldType(fieldIndex) : -1;
  } catch (...) {
    return -1;
  }
}

std::size_t CSelvaneTable::MemoryBytes() const {
  return m_impl ? m_impl->snapshot->MemoryBytes() : 0;
}

int CSelvaneTable::FieldIndex(const std::string& name) const {
  return m_impl ? m_impl->snapshot->FieldIndex(name) : -1;
}

std::string CSelvaneTable::FieldName(std::int32_t fieldIndex) const {
  try {
    return m_impl ? m_impl->snapshot->FieldName(fieldIndex) : std::string();
  } catch (...) {
    return std::string();
  }
}
