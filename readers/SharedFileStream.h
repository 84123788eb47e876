#ifndef SELVANE_READERS_SHAREDFILESTREAM_H_
#define SELVANE_READERS_SHAREDFILESTREAM_H_

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

#endif  // SELVANE_READERS_SHAREDFILESTREAM_H_
