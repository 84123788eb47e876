#ifndef SELVANE_READERS_SHAREDFILE_H_
#define SELVANE_READERS_SHAREDFILE_H_

#include <cstdint>
#include <string>

// One regular file opened for reading, denying other processes nothing:
// they may go on reading, writing, even replacing the file while it is open.
// On Windows the file is opened through the C runtime with the deny-none
// sharing mode, under the path's wide form, so that a character from 0x80 to
// 0xFF names the same file whatever the system's code page; elsewhere the
// platform's open already shares. Read at positions, without a stream
// buffer, so that an open costs no more than the system's.

class CSharedFile {
 public:
  CSharedFile() = default;
  ~CSharedFile() { Close(); }
  CSharedFile(const CSharedFile&) = delete;
  CSharedFile& operator=(const CSharedFile&) = delete;

  // Closes anything held, then opens path (each byte one character, as
  // narrowed from the caller's wide path). Only a regular file opens.
  void Open(const std::string& narrowPath);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  // The file's size when it was opened.
  std::uint64_t size() const { return size_; }
  // Reads up to n bytes at pos into dst; the bytes read, fewer where the
  // file ends first (or a read fails).
  std::uint32_t ReadAt(std::uint64_t pos, std::uint32_t n, char* dst);

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

#endif  // SELVANE_READERS_SHAREDFILE_H_
