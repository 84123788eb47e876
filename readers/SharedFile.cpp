#include "readers/SharedFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <limits>

#if defined(_WIN32)
#include <io.h>
#include <share.h>

#include <cwchar>
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

std::uint32_t CSharedFile::ReadAt(std::uint64_t pos, std::uint32_t n,
                                  char* dst) {
  if (fd_ < 0) return 0;
  std::uint32_t done = 0;
  while (done < n) {
    const std::uint64_t at = pos + done;
#if defined(_WIN32)
    if (at > static_cast<std::uint64_t>(std::numeric_limits<__int64>::max()) ||
        _lseeki64(fd_, static_cast<__int64>(at), SEEK_SET) < 0) {
      break;
    }
    const int got = _read(fd_, dst + done, n - done);
#else
    if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      break;
    }
    const ssize_t got =
        ::pread(fd_, dst + done, n - done, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
#endif
    if (got <= 0) break;  // an error, or the file ended
    done += static_cast<std::uint32_t>(got);
  }
  return done;
}
