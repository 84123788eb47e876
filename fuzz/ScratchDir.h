#ifndef SELVANE_FUZZ_SCRATCHDIR_H_
#define SELVANE_FUZZ_SCRATCHDIR_H_

#include <cstddef>
#include <cstdint>
#include <string>

// A folder of this process's own for the files that fuzz inputs become:
// under /dev/shm, which lives in RAM, where it exists, else under the
// system's temporary folder. Removed with its contents when the object dies,
// which for the function-local statics of the targets is at normal exit.
class ScratchDir {
 public:
  // The folder is named "selvane-fuzz-<tag>-<pid>".
  explicit ScratchDir(const std::string& tag);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // False when no folder could be made; nothing can be written then.
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;
  // Replaces File(name) with these bytes; false when it cannot.
  bool Write(const std::string& name, const std::uint8_t* data,
             std::size_t size) const;
  bool Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

#endif  // SELVANE_FUZZ_SCRATCHDIR_H_
