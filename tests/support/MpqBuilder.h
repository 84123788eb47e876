#ifndef SELVANE_TESTS_SUPPORT_MPQBUILDER_H_
#define SELVANE_TESTS_SUPPORT_MPQBUILDER_H_

#include <string>
#include <vector>

// Writes a real MPQ archive with the archive library's own create and write
// functions. Names are archive names ("Items.dbc", "Tables\\Items.dbc").
class MpqBuilder {
 public:
  enum class Storage { kPlain, kZlib };

  MpqBuilder& Add(const std::string& name, const std::string& bytes,
                  Storage storage = Storage::kPlain);
  // Archive format version, 1 (the default) to 4.
  MpqBuilder& Version(int version);

  // Creates the archive at path (replacing any file there); throws
  // std::runtime_error when the archive library refuses.
  void Write(const std::string& path) const;

 private:
  struct Entry {
    std::string name;
    std::string bytes;
    Storage storage;
  };
  std::vector<Entry> entries_;
  int version_ = 1;
};

#endif  // SELVANE_TESTS_SUPPORT_MPQBUILDER_H_
