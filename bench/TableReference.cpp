#include "bench/TableReference.h"

#include <StormLib.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

#include "readers/Coding.h"

namespace {

std::uint32_t Mix(std::uint32_t word) { return word * 0x9E3779B1u; }

std::uint32_t HashText(std::string_view text) {
  const std::uint64_t h = std::hash<std::string_view>()(text);
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

}  // namespace

bool TableReference::OpenWdb(const std::string& path, int keyField) {
  wdb_ = true;
  key_ = keyField;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  bytes_.resize(static_cast<std::size_t>(size > 0 ? size : 0));
  const bool read =
      std::fread(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
  std::fclose(f);
  if (!read) return false;
  std::vector<std::uint32_t> words;
  for (std::size_t pos = 20; pos + 8 <= bytes_.size();) {
    const char* p = bytes_.data() + pos;
    starts_.push_back(static_cast<std::uint32_t>(pos));
    words.push_back(keyField == 0 ? static_cast<std::uint32_t>(DecodeInt32(p))
                                  : HashText(p + 8));
    pos += 8 + static_cast<std::size_t>(DecodeInt32(p + 4));
  }
  Build(words);
  return true;
}

bool TableReference::OpenDbc(const std::string& archive,
                             const std::string& table, int keyColumn) {
  wdb_ = false;
  key_ = keyColumn;
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(
          archive.c_str(), 0,
          MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_NO_ATTRIBUTES,
          &mpq)) {
    return false;
  }
  HANDLE file = nullptr;
  bool read = false;
  if (SFileOpenFileEx(mpq, table.c_str(), 0, &file)) {
    const DWORD size = SFileGetFileSize(file, nullptr);
    bytes_.resize(size);
    DWORD got = 0;
    read =
        SFileReadFile(file, bytes_.data(), size, &got, nullptr) && got == size;
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  if (!read || bytes_.size() < 20) return false;
  const std::int32_t records = DecodeInt32(bytes_.data() + 4);
  const std::int32_t size = DecodeInt32(bytes_.data() + 12);
  strings_ = static_cast<std::uint32_t>(20 + records * size);
  std::vector<std::uint32_t> words;
  for (std::int32_t r = 0; r < records; ++r) {
    const auto start = static_cast<std::uint32_t>(20 + r * size);
    starts_.push_back(start);
    const std::int32_t cell =
        DecodeInt32(bytes_.data() + start + 4 * keyColumn);
    words.push_back(keyColumn == 0
                        ? static_cast<std::uint32_t>(cell)
                        : HashText(bytes_.data() + strings_ +
                                   static_cast<std::uint32_t>(cell)));
  }
  Build(words);
  return true;
}

void TableReference::Build(const std::vector<std::uint32_t>& words) {
  words_ = words;
  std::size_t n = 2;
  while (n < 2 * words.size()) n *= 2;
  slots_.assign(n, -1);
  for (std::size_t r = 0; r < words.size(); ++r) {
    std::size_t s = Mix(words[r]) & (n - 1);
    // The first record of a value keeps its slot.
    while (slots_[s] >= 0 &&
           !(words_[static_cast<std::size_t>(slots_[s])] == words[r] &&
             (key_ == 0 ||
              TextOf(slots_[s]) == TextOf(static_cast<std::int32_t>(r))))) {
      s = (s + 1) & (n - 1);
    }
    if (slots_[s] < 0) slots_[s] = static_cast<std::int32_t>(r);
  }
}

std::string TableReference::TextOf(std::int32_t record) const {
  const char* p = bytes_.data() + starts_[static_cast<std::size_t>(record)];
  if (wdb_) return std::string(p + 8);
  return std::string(bytes_.data() + strings_ +
                     static_cast<std::uint32_t>(DecodeInt32(p + 4 * key_)));
}

std::int32_t TableReference::Find(std::uint32_t word,
                                  const std::string* text) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t s = Mix(word) & mask; slots_[s] >= 0; s = (s + 1) & mask) {
    const std::int32_t r = slots_[s];
    if (words_[static_cast<std::size_t>(r)] == word &&
        (text == nullptr || TextOf(r) == *text)) {
      return r;
    }
  }
  return -1;
}

bool TableReference::WdbAnswer(std::int32_t id, float* out) const {
  const std::int32_t r = Find(static_cast<std::uint32_t>(id), nullptr);
  if (r < 0) return false;
  const char* p = bytes_.data() + starts_[static_cast<std::size_t>(r)] + 8;
  p += std::strlen(p) + 1 + 16;  // the text, two ints, the amount and skip
  *out = DecodeFloat(p);
  return true;
}

bool TableReference::WdbAnswer(const std::string& text, float* out) const {
  const std::int32_t r = Find(HashText(text), &text);
  if (r < 0) return false;
  const char* p = bytes_.data() + starts_[static_cast<std::size_t>(r)] + 8;
  p += text.size() + 1 + 16;
  *out = DecodeFloat(p);
  return true;
}

bool TableReference::DbcAnswer(std::int32_t id, std::int32_t* out) const {
  const std::int32_t r = Find(static_cast<std::uint32_t>(id), nullptr);
  if (r < 0) return false;
  *out = DecodeInt32(bytes_.data() + starts_[static_cast<std::size_t>(r)] + 8);
  return true;
}

bool TableReference::DbcAnswer(const std::string& text,
                               std::int32_t* out) const {
  const std::int32_t r = Find(HashText(text), &text);
  if (r < 0) return false;
  *out = DecodeInt32(bytes_.data() + starts_[static_cast<std::size_t>(r)] + 8);
  return true;
}

std::size_t TableReference::MemoryBytes() const {
  return bytes_.capacity() +
         4 * (starts_.capacity() + words_.capacity() + slots_.capacity());
}
