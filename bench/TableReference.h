#ifndef SELVANE_BENCH_TABLEREFERENCE_H_
#define SELVANE_BENCH_TABLEREFERENCE_H_

#include <cstdint>
#include <string>
#include <vector>

// What a host would write by hand to ask one table many questions: read
// the file once (a DBC table through one archive read call), build an
// open-addressing hash of the key field, answer from memory. The benchmark
// times CSelvaneTable against it.
//
// Both know the bench's own layouts only (BenchData.h): WDB key field 0
// (the id) or 2 (the cstring), answer field 6 (the float); DBC key column 0
// (the id) or 1 (the string), answer column 2 (an integer).
class TableReference {
 public:
  bool OpenWdb(const std::string& path, int keyField);
  bool OpenDbc(const std::string& archive, const std::string& table,
               int keyColumn);

  // The answer of the first record holding the key; false when none does.
  bool WdbAnswer(std::int32_t id, float* out) const;
  bool WdbAnswer(const std::string& text, float* out) const;
  bool DbcAnswer(std::int32_t id, std::int32_t* out) const;
  bool DbcAnswer(const std::string& text, std::int32_t* out) const;

  std::size_t MemoryBytes() const;

 private:
  void Build(const std::vector<std::uint32_t>& words);
  std::int32_t Find(std::uint32_t word, const std::string* text) const;
  std::string TextOf(std::int32_t record) const;

  bool wdb_ = true;
  int key_ = 0;
  std::vector<char> bytes_;
  std::vector<std::uint32_t> starts_;  // record offsets in bytes_
  std::vector<std::uint32_t> words_;   // key value, or hash of the text
  std::vector<std::int32_t> slots_;    // record, or -1
  std::uint32_t strings_ = 0;          // DBC: start of the string block
};

#endif  // SELVANE_BENCH_TABLEREFERENCE_H_
