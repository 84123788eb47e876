#include "tables/KeyIndex.h"

#include <algorithm>
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
  if (!ChooseDense(slots)) {
    slots_.assign(slots, kNone);
    mask_ = slots - 1;
  }
  // From the last record to the first, so that each chain ends up in file
  // order with its first record at the head.
  for (std::size_t r = next_.size(); r-- > 0;) {
    if (next_[r] == kSkipped) {
      next_[r] = kNone;
      continue;
    }
    const std::size_t s = SlotToFill(words_[r]);
    next_[r] = slots_[s];
    slots_[s] = static_cast<std::int32_t>(r);
  }
  // Dense slots need no words to tell theirs apart.
  if (dense_) std::vector<std::uint32_t>().swap(words_);
}

// Makes the slots dense when the words (taken as signed) span fewer than
// hashSlots values; false, with nothing changed, otherwise.
bool CKeyIndex::ChooseDense(std::size_t hashSlots) {
  bool any = false;
  std::int64_t least = 0, most = 0;
  for (std::size_t r = 0; r < next_.size(); ++r) {
    if (next_[r] == kSkipped) continue;
    const auto v = static_cast<std::int32_t>(words_[r]);
    least = any ? std::min<std::int64_t>(least, v) : v;
    most = any ? std::max<std::int64_t>(most, v) : v;
    any = true;
  }
  const auto span = static_cast<std::uint64_t>(most - least) + 1;
  if (!any || span >= hashSlots) return false;
  slots_.assign(span, kNone);
  dense_ = true;
  least_ = static_cast<std::uint32_t>(least);
  span_ = static_cast<std::uint32_t>(span);
  return true;
}

// While Finish links the records: the slot of word, or the empty one its
// probe ends on.
std::size_t CKeyIndex::SlotToFill(std::uint32_t word) const {
  if (dense_) return word - least_;
  std::size_t s = SlotOf(word);
  while (slots_[s] != kNone &&
         words_[static_cast<std::size_t>(slots_[s])] != word) {
    s = (s + 1) & mask_;
  }
  return s;
}

void CKeyIndex::TagDense(const std::vector<std::int32_t>& tags) {
  if (!dense_) return;
  denseTags_.assign(slots_.size(), 0);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i] != kNone)
      denseTags_[i] = tags[static_cast<std::size_t>(slots_[i])];
  }
}

std::size_t CKeyIndex::MemoryBytes() const {
  return words_.capacity() * sizeof(std::uint32_t) +
         next_.capacity() * sizeof(std::int32_t) +
         slots_.capacity() * sizeof(std::int32_t) +
         denseTags_.capacity() * sizeof(std::int32_t);
}
