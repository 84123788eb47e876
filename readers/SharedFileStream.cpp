#include "readers/SharedFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <limits>

#if defined(_WIN32)
#include <io.h>
#include <share.h>

#include <cwchar>
#if defined(__GLIBCXX__)
#include <ext/stdio_filebuf.h>
#endif
#else
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
// Each byte back to the character it was narrowed from.
std::wstring WidenBytes(const std::string& narrow) {
  std::wstring wide(narrow.size(), L'\0');
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(narrow[i]));
  }
  return wide;
}
#endif

}  // namespace

CSharedFileStream::CSharedFileStream() : std::istream(nullptr) {}

CSharedFileStream::~CSharedFileStream() { Close(); }

void CSharedFileStream::Open(const std::string& narrowPath) {
  Close();
#if defined(_WIN32) && defined(__GLIBCXX__)
  // libstdc++'s file buffer takes no sharing mode: open the C stream with
  // one and put a buffer on it.
  file_ = _wfsopen(WidenBytes(narrowPath).c_str(), L"rb", _SH_DENYNO);
  if (file_ == nullptr) return;
  buffer_ = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(
      file_, std::ios::in | std::ios::binary);
#elif defined(_WIN32)
  auto buffer = std::make_unique<std::filebuf>();
  if (buffer->open(WidenBytes(narrowPath).c_str(),
                   std::ios::in | std::ios::binary, _SH_DENYNO) == nullptr) {
    return;
  }
  buffer_ = std::move(buffer);
#else
  auto buffer = std::make_unique<std::filebuf>();
  if (buffer->open(narrowPath, std::ios::in | std::ios::binary) == nullptr) {
    return;
  }
  buffer_ = std::move(buffer);
#endif
  rdbuf(buffer_.get());
  clear();
}

void CSharedFileStream::Close() {
  rdbuf(nullptr);   // also sets badbit: nothing to read until the next Open
  buffer_.reset();  // flushes nothing (input only) and leaves file_ open
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void CSharedFile::Open(const std::string& narrowPath) {
  Close();
#if defined(_WIN32)
  if (_wsopen_s(&fd_, WidenBytes(narrowPath).c_str(), _O_RDONLY | _O_BINARY,
                _SH_DENYNO, 0) != 0) {
    fd_ = -1;
    return;
  }
  struct _stat64 st;
  const bool regular = _fstat64(fd_, &st) == 0 && (st.st_mode & _S_IFREG) != 0;
#else
  fd_ = ::open(narrowPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  struct stat st;
  const bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
#endif
  if (!regular || st.st_size < 0) {
    Close();
    return;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
}

void CSharedFile::Close() {
  if (fd_ >= 0) {
#if defined(_WIN32)
    _close(fd_);
#else
    ::close(fd_);
#endif
  }
  fd_ = -1;
  size_ = 0;
}

bool CSharedFile::ReadAt(std::uint64_t pos, std::uint32_t n,
                         unsigned char* dst) {
  if (fd_ < 0) return false;
  while (n != 0) {
#if defined(_WIN32)
    if (pos > static_cast<std::uint64_t>(std::numeric_limits<__int64>::max()) ||
        _lseeki64(fd_, static_cast<__int64>(pos), SEEK_SET) < 0) {
      return false;
    }
    const int got = _read(fd_, dst, n);
#else
    if (pos > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      return false;
    }
    const ssize_t got = ::pread(fd_, dst, n, static_cast<off_t>(pos));
#endif
#if !defined(_WIN32)
    if (got < 0 && errno == EINTR) continue;
#endif
    if (got <= 0) return false;  // an error, or the file ended first
    pos += static_cast<std::uint64_t>(got);
    dst += got;
    n -= static_cast<std::uint32_t>(got);
  }
  return true;
}
