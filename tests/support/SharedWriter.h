#ifndef SELVANE_TESTS_SUPPORT_SHAREDWRITER_H_
#define SELVANE_TESTS_SUPPORT_SHAREDWRITER_H_

#include <string>

#ifndef _WIN32
#include <fstream>
#endif

// An open handle that writes an existing file, as a program that keeps its
// cache or archive open for writing holds it: on Windows it shares reading
// and writing with others (and so lets in only openers that share writing).
class SharedWriter {
 public:
  explicit SharedWriter(const std::string& path);
  ~SharedWriter();
  SharedWriter(const SharedWriter&) = delete;
  SharedWriter& operator=(const SharedWriter&) = delete;

  bool ok() const;
  // Overwrites the file from its start with bytes and keeps the handle open.
  bool Rewrite(const std::string& bytes);

 private:
#ifdef _WIN32
  void* handle_;
#else
  std::fstream out_;
#endif
};

#endif  // SELVANE_TESTS_SUPPORT_SHAREDWRITER_H_
