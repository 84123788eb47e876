// Fuzz target for the archive guard: the input is an archive file. It is
// written to a RAM-backed folder, judged by the guard, and only when the
// guard lets it through opened and read with the library the way the table
// reader does. A crash or hang here is an input the guard should refuse.
//
// Seeds: run once with "--make-seeds DIR" to write archives made by the
// library itself (all versions, raw and zlib, with and without internal
// files) into DIR, then fuzz with DIR as the corpus.

#include <StormLib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "readers/ArchiveGuard.h"

namespace {

const char kTableName[] = "DBFilesClient\\Item.dbc";

std::string ScratchPath() {
  static const std::string path =
      "/dev/shm/selvane-fuzz-archive-" + std::to_string(getpid()) + ".mpq";
  return path;
}

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data),
            static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

void ReadTable(HANDLE mpq, const char* name) {
  HANDLE file = nullptr;
  if (!SFileOpenFileEx(mpq, name, 0, &file)) return;
  const DWORD size = SFileGetFileSize(file, nullptr);
  if (size != SFILE_INVALID_SIZE && size < (16u << 20)) {
    std::vector<char> buf(size + 1);
    DWORD got = 0;
    SFileReadFile(file, buf.data(), size, &got, nullptr);
    SFileSetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SFileReadFile(file, buf.data(), size < 4 ? size : 4, &got, nullptr);
  }
  SFileCloseFile(file);
}

bool AddFile(HANDLE mpq, const std::string& name, const std::string& data,
             bool compressed) {
  HANDLE file = nullptr;
  const DWORD flags =
      MPQ_FILE_REPLACEEXISTING | (compressed ? MPQ_FILE_COMPRESS : 0);
  if (!SFileCreateFile(mpq, name.c_str(), 0, static_cast<DWORD>(data.size()), 0,
                       flags, &file))
    return false;
  bool ok = SFileWriteFile(file, data.data(), static_cast<DWORD>(data.size()),
                           compressed ? MPQ_COMPRESSION_ZLIB : 0);
  return SFileFinishFile(file) && ok;
}

void MakeSeeds(const std::string& dir) {
  int n = 0;
  for (DWORD version = 0; version < 4; ++version)
    for (int compressed = 0; compressed < 2; ++compressed)
      for (int lists = 0; lists < 2; ++lists) {
        const std::string path = dir + "/seed" + std::to_string(n++) + ".mpq";
        std::remove(path.c_str());
        SFILE_CREATE_MPQ info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.dwMpqVersion = version;
        info.dwStreamFlags = STREAM_PROVIDER_FLAT | BASE_PROVIDER_FILE;
        info.dwFileFlags1 = lists ? MPQ_FILE_DEFAULT_INTERNAL : 0;
        info.dwFileFlags2 = lists ? MPQ_FILE_DEFAULT_INTERNAL : 0;
        info.dwAttrFlags = lists ? MPQ_ATTRIBUTE_CRC32 : 0;
        info.dwSectorSize = 0x1000;
        info.dwRawChunkSize = version == 3 ? 0x4000 : 0;
        info.dwMaxFileCount = 8;
        HANDLE mpq = nullptr;
        if (!SFileCreateArchive2(path.c_str(), &info, &mpq)) continue;
        std::string table(5000, '\0');
        for (size_t i = 0; i < table.size(); ++i)
          table[i] = static_cast<char>(i * 7 + (i >> 5));
        AddFile(mpq, kTableName, table, compressed != 0);
        AddFile(mpq, "Data\\Small.bin", "small", compressed != 0);
        SFileCloseArchive(mpq);
      }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i + 1 < *argc; ++i) {
    if (std::strcmp((*argv)[i], "--make-seeds") == 0) {
      MakeSeeds((*argv)[i + 1]);
      std::exit(0);
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ScratchPath();
  if (!WriteBytes(path, data, size)) return 0;
  if (!ArchiveIsSafeToOpen(path)) return 0;
  HANDLE mpq = nullptr;
  if (SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq)) {
    ReadTable(mpq, kTableName);
    SFileCloseArchive(mpq);
  }
  return 0;
}
