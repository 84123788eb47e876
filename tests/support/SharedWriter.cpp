#include "tests/support/SharedWriter.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "tests/support/TempDir.h"

SharedWriter::SharedWriter(const std::string& path)
    : handle_(CreateFileW(Widen(path).c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

SharedWriter::~SharedWriter() {
  if (ok()) CloseHandle(handle_);
}

bool SharedWriter::ok() const { return handle_ != INVALID_HANDLE_VALUE; }

bool SharedWriter::Rewrite(const std::string& bytes) {
  DWORD written = 0;
  return ok() && SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) == 0 &&
         WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()),
                   &written, nullptr) != 0 &&
         written == bytes.size() && FlushFileBuffers(handle_) != 0;
}

#else

SharedWriter::SharedWriter(const std::string& path)
    : out_(path, std::ios::binary | std::ios::in | std::ios::out) {}

SharedWriter::~SharedWriter() = default;

bool SharedWriter::ok() const { return out_.is_open(); }

bool SharedWriter::Rewrite(const std::string& bytes) {
  out_.seekp(0);
  out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out_.flush();
  return out_.good();
}

#endif
