#include "tables/KeyIndex.h"

#include <cmath>
#include <cstring>
#include <functional>

namespace {

constexpr std::int32_t kSkipped = -2;

}  // namespace

bool CKeyIndex::FloatWord(float value, std::uint32_t* word) {
  if (std::isnan(value)) return false;
  if (value == 0.0f) value = 0.0f;  // -0 and +0 are equal
  std::memcpy(word, &value, sizeof *word);
  return true;
}

std::uint32_t CKeyIndex::TextWord(std::string_view text) {
  const std::uint64_t h = std::hash<std::string_view>()(text);
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

void CKeyIndex::Reserve(std::size_t n) {
  words_.reserve(n);
  next_.reserve(n);
}

void CKeyIndex::Add(std::uint32_t word) {
  words_.push_back(word);
  next_.push_back(kNone);
}

void CKeyIndex::Skip() {
  words_.push_back(0);
  next_.push_back(kSkipped);
}

void CKeyIndex::Finish() {
  std::size_t slots = 2;
  while (slots < 2 * next_.size()) slots *= 2;
  slots_.assign(slots, kNone);
  mask_ = slots - 1;
  // From the last record to the first, so that each chain ends up in file
  // order with its first record at the head.
  for (std::size_t r = next_.size(); r-- > 0;) {
    if (next_[r] == kSkipped) {
      next_[r] = kNone;
      continue;
    }
    const std::uint32_t word = words_[r];
    std::size_t s = SlotOf(word);
    while (slots_[s] != kNone &&
           words_[static_cast<std::size_t>(slots_[s])] != word) {
      s = (s + 1) & mask_;
    }
    next_[r] = slots_[s];
    slots_[s] = static_cast<std::int32_t>(r);
  }
}

std::size_t CKeyIndex::MemoryBytes() const {
  return words_.capacity() * sizeof(std::uint32_t) +
         next_.capacity() * sizeof(std::int32_t) +
         slots_.capacity() * sizeof(std::int32_t);
}
