#include "tests/support/StoredTableBuilder.h"

#include <StormLib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::uint32_t CipherTable(std::size_t i) {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(0x500);
    std::uint32_t seed = 0x00100001;
    for (std::size_t a = 0; a < 0x100; ++a)
      for (std::size_t b = 0; b < 5; ++b) {
        seed = (seed * 125 + 3) % 0x2AAAAB;
        const std::uint32_t high = (seed & 0xFFFF) << 16;
        seed = (seed * 125 + 3) % 0x2AAAAB;
        t[a + b * 0x100] = high | (seed & 0xFFFF);
      }
    return t;
  }();
  return table[i];
}

DWORD CompressionOf(StoredLayout::Packing p) {
  switch (p) {
    case StoredLayout::Packing::kZlib:
      return MPQ_COMPRESSION_ZLIB;
    case StoredLayout::Packing::kPkware:
      return MPQ_COMPRESSION_PKWARE;
    case StoredLayout::Packing::kBzip2:
      return MPQ_COMPRESSION_BZIP2;
    case StoredLayout::Packing::kLzma:
      return MPQ_COMPRESSION_LZMA;
    default:
      return 0;
  }
}

DWORD FlagsOf(const StoredLayout& l) {
  DWORD flags = MPQ_FILE_REPLACEEXISTING;
  if (l.packing == StoredLayout::Packing::kImplode) {
    flags |= MPQ_FILE_IMPLODE;
  } else if (l.packing != StoredLayout::Packing::kNone) {
    flags |= MPQ_FILE_COMPRESS;
  }
  if (l.encrypted) flags |= MPQ_FILE_ENCRYPTED;
  if (l.encrypted && l.fixed_key) flags |= MPQ_FILE_FIX_KEY;
  if (l.checksums) flags |= MPQ_FILE_SECTOR_CRC;
  if (l.whole) flags |= MPQ_FILE_SINGLE_UNIT;
  return flags;
}

bool AddFile(HANDLE mpq, const std::string& name, const std::string& bytes,
             DWORD flags, DWORD compression) {
  HANDLE file = nullptr;
  if (!SFileCreateFile(mpq, name.c_str(), 0, static_cast<DWORD>(bytes.size()),
                       0, flags, &file)) {
    return false;
  }
  // In pieces, so that each call stays small.
  constexpr std::size_t kChunk = 1 << 16;
  bool ok = true;
  for (std::size_t at = 0; ok && at < bytes.size(); at += kChunk) {
    const std::size_t n = std::min(kChunk, bytes.size() - at);
    ok = SFileWriteFile(file, bytes.data() + at, static_cast<DWORD>(n),
                        compression);
  }
  return SFileFinishFile(file) && ok;
}

std::string OtherName(int i) { return "Other\\F" + std::to_string(i) + ".bin"; }

std::string OtherBytes(int i) {
  return std::string(static_cast<std::size_t>(16 + i % 200),
                     static_cast<char>('a' + i % 26));
}

}  // namespace

std::string Describe(const StoredLayout& l) {
  static const char* const kPacking[] = {"none",  "zlib", "pkware",
                                         "bzip2", "lzma", "implode"};
  return "v" + std::to_string(l.version) + " sector " +
         std::to_string(l.sector_size) + " " +
         kPacking[static_cast<int>(l.packing)] +
         (l.encrypted ? (l.fixed_key ? " encrypted(fixed key)" : " encrypted")
                      : "") +
         (l.checksums ? " checksums" : "") + (l.whole ? " whole" : "") +
         " others " + std::to_string(l.other_files) +
         (l.replaced ? " replaced" : "") + " removed " +
         std::to_string(l.removed);
}

bool WriteStoredTable(const std::string& path, const std::string& tablePath,
                      const std::string& table, const StoredLayout& l) {
  std::remove(path.c_str());
  SFILE_CREATE_MPQ info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.dwMpqVersion = static_cast<DWORD>(l.version - 1);
  info.dwStreamFlags = STREAM_PROVIDER_FLAT | BASE_PROVIDER_FILE;
  info.dwFileFlags1 = MPQ_FILE_DEFAULT_INTERNAL;
  info.dwFileFlags2 = MPQ_FILE_DEFAULT_INTERNAL;
  info.dwAttrFlags = MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME;
  info.dwSectorSize = l.sector_size;
  info.dwRawChunkSize = l.version >= 4 ? 0x4000 : 0;
  info.dwMaxFileCount = static_cast<DWORD>(l.other_files + 16);
  HANDLE mpq = nullptr;
  if (!SFileCreateArchive2(path.c_str(), &info, &mpq)) return false;
  const DWORD compression = CompressionOf(l.packing);
  const DWORD other_flags = MPQ_FILE_REPLACEEXISTING | MPQ_FILE_COMPRESS;
  bool ok = true;
  for (int i = 0; ok && i < l.other_files; ++i) {
    ok = AddFile(mpq, OtherName(i), OtherBytes(i), other_flags,
                 MPQ_COMPRESSION_ZLIB);
  }
  if (ok && l.replaced) {
    ok = AddFile(mpq, tablePath, table.substr(0, table.size() / 2) + "old",
                 FlagsOf(l), compression);
  }
  ok = ok && AddFile(mpq, tablePath, table, FlagsOf(l), compression);
  for (int i = 0; ok && i < std::min(l.removed, l.other_files); ++i) {
    ok = SFileRemoveFile(mpq, OtherName(i).c_str(), 0);
  }
  return SFileCloseArchive(mpq) && ok;
}

bool SpoilSector(const std::string& path, const std::string& tablePath,
                 std::uint32_t tableSize, std::uint32_t sectorSize,
                 std::uint32_t sector) {
  // The table's offset table (one offset per sector and one past the last)
  // lies at the start of its stored bytes.
  HANDLE mpq = nullptr, file = nullptr;
  ULONGLONG at = 0;
  const DWORD flags =
      MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_NO_ATTRIBUTES;
  if (!SFileOpenArchive(path.c_str(), 0, flags, &mpq)) return false;
  const bool found =
      SFileOpenFileEx(mpq, tablePath.c_str(), 0, &file) &&
      SFileGetFileInfo(file, SFileInfoByteOffset, &at, sizeof at, nullptr);
  if (file != nullptr) SFileCloseFile(file);
  SFileCloseArchive(mpq);
  const std::uint32_t sectors = (tableSize + sectorSize - 1) / sectorSize;
  if (!found || sector >= sectors) return false;
  std::vector<std::uint32_t> offsets(sectors + 1);
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(static_cast<std::streamoff>(at));
  f.read(reinterpret_cast<char*>(offsets.data()),
         static_cast<std::streamsize>(4 * offsets.size()));
  for (std::uint32_t i = 1; i < 6 && offsets[sector] + i < offsets[sector + 1];
       ++i) {
    f.seekp(static_cast<std::streamoff>(at + offsets[sector] + i));
    f.put(0x55);
  }
  return f.good();
}

void CryptArchiveTable(std::vector<std::uint32_t>* words, std::uint32_t key,
                       bool encrypt) {
  std::uint32_t seed = 0xEEEEEEEE;
  for (std::uint32_t& w : *words) {
    seed += CipherTable(0x400 + (key & 0xFF));
    const std::uint32_t in = w;
    w = in ^ (key + seed);
    const std::uint32_t plain = encrypt ? in : w;
    key = ((~key << 0x15) + 0x11111111) | (key >> 0x0B);
    seed = plain + seed + (seed << 5) + 3;
  }
}

bool SetBlockEntryField(std::string* archive, std::size_t header,
                        std::uint32_t size, std::size_t field,
                        std::uint32_t value) {
  // Version 1 header: the block table's position at 0x14, its count at 0x1C.
  std::uint32_t pos = 0, count = 0;
  if (archive->size() < header + 0x20) return false;
  std::memcpy(&pos, archive->data() + header + 0x14, 4);
  std::memcpy(&count, archive->data() + header + 0x1C, 4);
  const std::size_t at = header + pos;
  std::vector<std::uint32_t> words(4 * static_cast<std::size_t>(count));
  if (at + 4 * words.size() > archive->size()) return false;
  std::memcpy(words.data(), archive->data() + at, 4 * words.size());
  CryptArchiveTable(&words, MPQ_KEY_BLOCK_TABLE, false);
  bool found = false;
  for (std::size_t e = 0; e < words.size(); e += 4) {
    if (words[e + 2] != size) continue;
    words[e + field] = value;
    found = true;
  }
  CryptArchiveTable(&words, MPQ_KEY_BLOCK_TABLE, true);
  std::memcpy(&(*archive)[at], words.data(), 4 * words.size());
  return found;
}

bool SetListedSize(const std::string& path, std::uint32_t size,
                   std::uint32_t listed) {
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in),
                 std::istreambuf_iterator<char>());
  }
  if (!SetBlockEntryField(&bytes, 0, size, 2, listed)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}
