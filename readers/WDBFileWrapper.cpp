#include "readers/WDBFileWrapper.h"

#include <algorithm>

#include "query/PathUtil.h"
#include "readers/Coding.h"

CWDBFileWrapper::CWDBFileWrapper()
    : CFileWrapper(1),
      bytes_(&file_),
      window_(kWindowCapacity),
      cursor_(&window_) {}

CWDBFileWrapper::~CWDBFileWrapper() { Close(); }

int CWDBFileWrapper::Open(const std::wstring& path) {
  try {
    Close();
    path_ = path;
    std::string narrow;
    if (!NarrowExact(path, &narrow)) return -1;
    // Other processes may go on reading and writing the file meanwhile.
    file_.Open(narrow);
    if (!file_.IsOpen()) return -1;
    window_.Reset(&bytes_);
    return ReadHeader();
  } catch (...) {
    return -1;
  }
}

std::uint32_t CWDBFileWrapper::FileBytes::ReadAt(std::uint32_t pos, char* dst,
                                                 std::uint32_t n) {
  const std::uint64_t size = file_->size();
  if (pos >= size) return 0;
  const auto ask =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(n, size - pos));
  return file_->ReadAt(pos, ask, dst);
}

void CWDBFileWrapper::Close() {
  file_.Close();
  window_.Reset(nullptr);
}

int CWDBFileWrapper::ReadHeader() {
  if (!file_.IsOpen() || !window_.ok()) return -1;
  if (cursor_.ReadHeader(&header_) != 0) return -1;
  return window_.Seek(CWdbCursor::kFirstRecord);
}

int CWDBFileWrapper::ReadInt(std::int32_t* value) {
  char bytes[4];
  if (window_.Read(bytes, sizeof bytes) != 0) return -1;
  *value = DecodeInt32(bytes);
  return 0;
}

int CWDBFileWrapper::ReadFloat(float* value) {
  char bytes[4];
  if (window_.Read(bytes, sizeof bytes) != 0) return -1;
  *value = DecodeFloat(bytes);
  return 0;
}

int CWDBFileWrapper::ReadString(std::string& out) {
  try {
    return window_.ReadThrough(
        '\0', [&out](const char* p, std::size_t n) { out.append(p, n); });
  } catch (...) {
    // Out of memory part way: the cursor is somewhere inside the text.
    return window_.Fail();
  }
}

int CWDBFileWrapper::ReadByte(char* value) { return window_.ReadByte(value); }

int CWDBFileWrapper::ReadBytes(char* buffer, std::int32_t count) {
  if (count < 0) return window_.Fail();
  return window_.Read(buffer, static_cast<std::size_t>(count));
}

int CWDBFileWrapper::SeekFromBegin(std::int32_t position) {
  return window_.Seek(position);
}

int CWDBFileWrapper::SeekFromCurrent(std::int32_t distance) {
  return window_.Skip(distance);
}

int CWDBFileWrapper::SkipCString() {
  return window_.ReadThrough('\0', [](const char*, std::size_t) {});
}

void CWDBFileWrapper::SkipField(const selvane::FieldAttr_t& entry) {
  switch (entry.type) {
    case selvane::kTypeCString:
      SkipCString();
      break;
    case selvane::kTypeAmount:
      window_.Skip(entry.size);
      window_.Skip(entry.skipbyte);
      break;
    default:
      window_.Skip(entry.size);
      break;
  }
}

int CWDBFileWrapper::CheckFieldIndexes(const DBParam_t& key,
                                       const DBParam_t& result) const {
  const selvane::FieldMap* fields = definitions();
  if (fields == nullptr || !CWdbField::Names(*fields, key.fieldIndex) ||
      !CWdbField::Names(*fields, result.fieldIndex)) {
    return -1;
  }
  return 0;
}

int CWDBFileWrapper::Query(DBParam_t& key, DBParam_t& result) {
  try {
    return Scan(key, result);
  } catch (...) {
    return -1;
  }
}

int CWDBFileWrapper::Scan(DBParam_t& key, DBParam_t& result) {
  if (CheckFieldIndexes(key, result) != 0 || !window_.ok()) return -1;
  const CWdbField key_field(*definitions(), key.fieldIndex);
  const CWdbField result_field(*definitions(), result.fieldIndex);
  WdbRecord found;
  if (cursor_.Find(key_field, key, &found) != 0) return -1;
  // Written on the match only, just before the result is read.
  result.type = result_field.type();
  return cursor_.Store(found, result_field, result);
}
