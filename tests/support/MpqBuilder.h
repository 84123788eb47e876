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
};

#endif  // SELVANE_TESTS_SUPPORT_MPQBUILDER_H_
