#include "bench/Floors.h"

#include <StormLib.h>
#include <tinyxml.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "readers/Coding.h"

namespace {

// Buffers live across calls, so that the floor pays for the read and not for
// fresh pages: the tightest floor a host could reach.
std::vector<char>& FileBuffer() {
  static std::vector<char> buffer;
  return buffer;
}

const std::vector<char>& ReadWholeFile(const std::string& path) {
  std::vector<char>& bytes = FileBuffer();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    bytes.clear();
    return bytes;
  }
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  bytes.resize(static_cast<std::size_t>(size > 0 ? size : 0));
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size())
    bytes.clear();
  std::fclose(f);
  return bytes;
}

// The table's bytes read with one call, as a host would without the library.
const std::vector<char>& ReadTable(const std::string& archive,
                                   const std::string& table) {
  std::vector<char>& bytes = FileBuffer();
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(
          archive.c_str(), 0,
          MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_NO_ATTRIBUTES,
          &mpq)) {
    bytes.clear();
    return bytes;
  }
  HANDLE file = nullptr;
  if (SFileOpenFileEx(mpq, table.c_str(), 0, &file)) {
    const DWORD size = SFileGetFileSize(file, nullptr);
    bytes.resize(size);
    DWORD read = 0;
    if (!SFileReadFile(file, bytes.data(), size, &read, nullptr) ||
        read != size)
      bytes.clear();
    SFileCloseFile(file);
  } else {
    bytes.clear();
  }
  SFileCloseArchive(mpq);
  return bytes;
}

struct DbcView {
  const char* data;
  std::size_t size;
  std::int32_t records, fields, recordSize;
  std::size_t strings;  // start of the string block
};

bool ViewDbc(const std::vector<char>& bytes, DbcView* v) {
  if (bytes.size() < 20) return false;
  v->data = bytes.data();
  v->size = bytes.size();
  v->records = DecodeInt32(v->data + 4);
  v->fields = DecodeInt32(v->data + 8);
  v->recordSize = DecodeInt32(v->data + 12);
  v->strings = 20 + static_cast<std::size_t>(v->records) *
                        static_cast<std::size_t>(v->recordSize);
  return v->strings <= v->size;
}

}  // namespace

float WdbFloor(const std::string& path, int keyField, std::int32_t key,
               std::int32_t amountSkip) {
  const std::vector<char>& bytes = ReadWholeFile(path);
  std::size_t at = 20;
  while (at + 8 <= bytes.size()) {
    const char* rec = bytes.data() + at;
    const std::int32_t id = DecodeInt32(rec);
    const std::int32_t length = DecodeInt32(rec + 4);
    const char* data = rec + 8;
    const char* nul =
        static_cast<const char*>(std::memchr(data, 0, bytes.size() - (at + 8)));
    if (nul == nullptr) break;
    const char* ints = nul + 1;
    const std::int32_t candidate = keyField == 0 ? id : DecodeInt32(ints);
    if (candidate == key) return DecodeFloat(ints + 8 + 4 + amountSkip);
    at += 8 + static_cast<std::size_t>(length);
  }
  return std::nanf("");
}

std::int32_t DbcFloorInt(const std::string& archive, const std::string& table,
                         int keyColumn, std::int32_t key, int resultColumn) {
  const std::vector<char>& bytes = ReadTable(archive, table);
  DbcView v;
  if (!ViewDbc(bytes, &v)) return -1;
  for (std::int32_t j = 0; j < v.records; ++j) {
    const char* rec = v.data + 20 + static_cast<std::size_t>(j) * v.recordSize;
    if (DecodeInt32(rec + 4 * keyColumn) == key)
      return DecodeInt32(rec + 4 * resultColumn);
  }
  return -1;
}

std::int32_t DbcFloorString(const std::string& archive,
                            const std::string& table, int keyColumn,
                            const std::string& key, int resultColumn) {
  const std::vector<char>& bytes = ReadTable(archive, table);
  DbcView v;
  if (!ViewDbc(bytes, &v)) return -1;
  for (std::int32_t j = 0; j < v.records; ++j) {
    const char* rec = v.data + 20 + static_cast<std::size_t>(j) * v.recordSize;
    const std::size_t at = v.strings + static_cast<std::uint32_t>(
                                           DecodeInt32(rec + 4 * keyColumn));
    if (at >= v.size) continue;
    const std::size_t room = v.size - at;
    if (room > key.size() &&
        std::memcmp(v.data + at, key.data(), key.size()) == 0 &&
        v.data[at + key.size()] == '\0')
      return DecodeInt32(rec + 4 * resultColumn);
  }
  return -1;
}

bool XmlFloor(const std::string& path) {
  TiXmlDocument doc;
  return doc.LoadFile(path.c_str()) && doc.RootElement() != nullptr;
}
