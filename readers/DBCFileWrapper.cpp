#include "readers/DBCFileWrapper.h"

#include "query/PathUtil.h"
#include "readers/Coding.h"

CDBCFileWrapper::CDBCFileWrapper()
    : CFileWrapper(0),
      window_(kWindowCapacity),
      strings_(kWindowCapacity),
      cursor_(&window_, &strings_) {}

// The members close themselves, in reverse order: the windows, the buffer,
// then the table and the archive.
CDBCFileWrapper::~CDBCFileWrapper() = default;

int CDBCFileWrapper::Open(const std::wstring& archivePath,
                          const std::string& tablePath) {
  try {
    Close();
    std::string narrow;
    if (!NarrowExact(archivePath, &narrow) ||
        table_.Open(narrow, tablePath) != 0) {
      return -1;
    }
    ReadWhole();
    Attach(&window_);
    Attach(&strings_);
    return ReadHeader();
  } catch (...) {
    return -1;
  }
}

void CDBCFileWrapper::Close() {
  window_.Reset(nullptr);
  strings_.Reset(nullptr);
  whole_size_ = 0;
  whole_data_ = nullptr;
  whole_.Release();
  table_.Close();
}

bool CDBCFileWrapper::ReadWhole() {
  whole_size_ = 0;
  const std::int64_t size = table_.size();
  if (size <= 0 || size > kWholeTable || table_.packed()) return false;
  const auto n = static_cast<std::uint32_t>(size);
  char* bytes = whole_.Reserve(n);
  if (bytes == nullptr || table_.ReadAt(0, bytes, n) != n) return false;
  whole_data_ = bytes;
  whole_size_ = n;
  return true;
}

void CDBCFileWrapper::Attach(CReadWindow* window) {
  if (whole_size_ != 0) {
    window->ResetMemory(whole_data_, whole_size_);
  } else {
    window->Reset(&table_);
  }
}

bool CDBCFileWrapper::Ready() {
  if (!table_.is_open()) return false;
  if (!window_.ok()) {
    const std::int64_t here = window_.position();
    Attach(&window_);
    window_.Seek(here);
  }
  return true;
}

int CDBCFileWrapper::ReadHeader() {
  if (!Ready() || cursor_.ReadHeader() != 0) return -1;
  return window_.Seek(CDbcCursor::kHeaderSize);
}

int CDBCFileWrapper::ReadInt(std::int32_t* value) {
  char bytes[4];
  if (value == nullptr || !Ready() || window_.Read(bytes, 4) != 0) return -1;
  *value = DecodeInt32(bytes);
  return 0;
}

int CDBCFileWrapper::ReadFloat(float* value) {
  char bytes[4];
  if (value == nullptr || !Ready() || window_.Read(bytes, 4) != 0) return -1;
  *value = DecodeFloat(bytes);
  return 0;
}

int CDBCFileWrapper::ReadByte(char* value) {
  if (value == nullptr || !Ready()) return -1;
  return window_.ReadByte(value);
}

int CDBCFileWrapper::ReadBytes(char* buffer, std::int32_t count) {
  if (count < 0 || (count > 0 && buffer == nullptr) || !Ready()) return -1;
  if (count == 0) return 0;
  return window_.Read(buffer, static_cast<std::size_t>(count));
}

int CDBCFileWrapper::ReadString(std::string& out) {
  std::int32_t offset = 0;
  if (ReadInt(&offset) != 0) return -1;
  const std::int64_t text = cursor_.TextPosition(offset);
  // Read through the same window: the position ends just past the NUL. What
  // was read before a failure stays appended, as the interface says.
  if (text < 0 || window_.Seek(text) != 0) return -1;
  try {
    return window_.ReadThrough(
        '\0', [&out](const char* p, std::size_t n) { out.append(p, n); });
  } catch (...) {
    return window_.Fail();
  }
}

int CDBCFileWrapper::SeekFromBegin(std::int32_t position) {
  if (!Ready()) return -1;
  return window_.Seek(position);
}

int CDBCFileWrapper::SeekFromCurrent(std::int32_t distance) {
  if (!Ready()) return -1;
  return window_.Skip(distance);
}

int CDBCFileWrapper::CheckFieldIndexes(const DBParam_t& key,
                                       const DBParam_t& result) const {
  if (definitions() == nullptr) return -1;
  if (!cursor_.NamesColumn(key.fieldIndex) ||
      !cursor_.NamesColumn(result.fieldIndex)) {
    return -1;
  }
  return 0;
}

int CDBCFileWrapper::Query(DBParam_t& key, DBParam_t& result) {
  try {
    return QueryUnguarded(key, result);
  } catch (...) {
    return -1;
  }
}

int CDBCFileWrapper::QueryUnguarded(DBParam_t& key, DBParam_t& result) {
  if (CheckFieldIndexes(key, result) != 0) return -1;
  DbcField key_field, result_field;
  const int located =
      CDbcCursor::Locate(*definitions(), key.fieldIndex, &key_field) |
      CDbcCursor::Locate(*definitions(), result.fieldIndex, &result_field);
  // Both types are written, whatever the scan then finds.
  key.type = key_field.type;
  result.type = result_field.type;
  if (located != 0 || !Ready()) return -1;
  if (!strings_.ok()) Attach(&strings_);
  std::int64_t found = 0;
  if (cursor_.Find(key_field, key, &found) != 0) return -1;
  return cursor_.Store(result_field, found, result);
}
