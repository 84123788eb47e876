#ifndef SELVANE_TESTS_SUPPORT_TEMPDIR_H_
#define SELVANE_TESTS_SUPPORT_TEMPDIR_H_

#include <string>

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // JoinPath(path(), name)
  std::string File(const std::string& name) const;
  // Writes bytes to File(name), replacing it; returns the full path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

// folder, the platform's separator ("\\" on Windows, "/" elsewhere), name.
std::string JoinPath(const std::string& folder, const std::string& name);

// Wide form of a narrow path, byte for byte (the inverse of narrowing for
// paths that hold no character above 0xFF).
std::wstring Widen(const std::string& narrow);

#endif  // SELVANE_TESTS_SUPPORT_TEMPDIR_H_
