#ifndef SELVANE_READERS_SHAREDFILESTREAM_H_
#define SELVANE_READERS_SHAREDFILESTREAM_H_

#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

// A binary input stream over one file that denies other processes nothing:
// they may go on reading, writing, even replacing the file while it is open.
// On Windows the file is opened through the C runtime with the deny-none
// sharing mode, under the path's wide form, so that a character from 0x80 to
// 0xFF names the same file whatever the system's code page; elsewhere the
// platform's open already shares.
class CSharedFileStream : public std::istream {
 public:
  CSharedFileStream();
  ~CSharedFileStream() override;
  CSharedFileStream(const CSharedFileStream&) = delete;
  CSharedFileStream& operator=(const CSharedFileStream&) = delete;

  // Closes anything held, then opens path (each byte one character, as
  // narrowed from the caller's wide path). On failure IsOpen() is false.
  void Open(const std::string& narrowPath);
  bool IsOpen() const { return buffer_ != nullptr; }
  void Close();

 private:
  std::unique_ptr<std::streambuf> buffer_;
  std::FILE* file_ = nullptr;  // owned when the buffer sits on a C stream
};

// The same file opened the same way, read at positions without a stream
// buffer: for callers that read a few bytes from a few places and want the
// open to cost no more than the system's.
class CSharedFile {
 public:
  CSharedFile() = default;
  ~CSharedFile() { Close(); }
  CSharedFile(const CSharedFile&) = delete;
  CSharedFile& operator=(const CSharedFile&) = delete;

  // Closes anything held, then opens path as CSharedFileStream does. Only a
  // regular file opens.
  void Open(const std::string& narrowPath);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  // The file's size when it was opened.
  std::uint64_t size() const { return size_; }
  // Reads n bytes at pos into dst; false unless all n were read.
  bool ReadAt(std::uint64_t pos, std::uint32_t n, unsigned char* dst);

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

#endif  // SELVANE_READERS_SHAREDFILESTREAM_H_
