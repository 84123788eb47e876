#include "readers/SharedFileStream.h"

#include <fstream>

#if defined(_WIN32)
#include <share.h>

#include <cwchar>
#if defined(__GLIBCXX__)
#include <ext/stdio_filebuf.h>
#endif
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
