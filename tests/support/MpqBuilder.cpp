#include "tests/support/MpqBuilder.h"

#include <StormLib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

// Writes in pieces so that a table of any size stays within one DWORD call
// and the library's buffers stay small.
constexpr std::size_t kChunk = 1 << 20;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    throw std::runtime_error(what + " failed (error " +
                             std::to_string(GetLastError()) + ")");
  }
}

}  // namespace

MpqBuilder& MpqBuilder::Add(const std::string& name, const std::string& bytes,
                            Storage storage) {
  entries_.push_back(Entry{name, bytes, storage});
  return *this;
}

MpqBuilder& MpqBuilder::Version(int version) {
  if (version < 1 || version > 4) {
    throw std::invalid_argument("archive versions are 1 to 4");
  }
  version_ = version;
  return *this;
}

void MpqBuilder::Write(const std::string& path) const {
  std::remove(path.c_str());
  // Room for every entry plus the listfile and attributes, which real
  // archives carry and the reader must not need.
  const auto max_files =
      static_cast<DWORD>(std::max<std::size_t>(16, entries_.size() + 8));
  const DWORD formats[] = {MPQ_CREATE_ARCHIVE_V1, MPQ_CREATE_ARCHIVE_V2,
                           MPQ_CREATE_ARCHIVE_V3, MPQ_CREATE_ARCHIVE_V4};
  HANDLE archive = nullptr;
  Check(SFileCreateArchive(
            path.c_str(),
            formats[version_ - 1] | MPQ_CREATE_LISTFILE | MPQ_CREATE_ATTRIBUTES,
            max_files, &archive),
        "SFileCreateArchive " + path);
  try {
    for (const Entry& e : entries_) {
      DWORD flags = MPQ_FILE_REPLACEEXISTING;
      if (e.storage == Storage::kZlib) flags |= MPQ_FILE_COMPRESS;
      HANDLE file = nullptr;
      Check(
          SFileCreateFile(archive, e.name.c_str(), 0,
                          static_cast<DWORD>(e.bytes.size()), 0, flags, &file),
          "SFileCreateFile " + e.name);
      bool written = true;
      for (std::size_t at = 0; written && at < e.bytes.size(); at += kChunk) {
        const std::size_t n = std::min(kChunk, e.bytes.size() - at);
        written = SFileWriteFile(file, e.bytes.data() + at,
                                 static_cast<DWORD>(n), MPQ_COMPRESSION_ZLIB);
      }
      const bool finished = SFileFinishFile(file);
      Check(written && finished, "writing " + e.name);
    }
  } catch (...) {
    SFileCloseArchive(archive);
    throw;
  }
  Check(SFileCloseArchive(archive), "SFileCloseArchive " + path);
}
