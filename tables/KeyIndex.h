#ifndef SELVANE_TABLES_KEYINDEX_H_
#define SELVANE_TABLES_KEYINDEX_H_

#include <cstdint>
#include <string_view>
#include <vector>

// A hash of one key field over the records a scan tests, records 0 .. n-1 in
// file order. Each record is added as a 32-bit word: an integer (a byte
// widened with its sign) as its bits, a float by IEEE equality (-0 as +0, a
// NaN left out, as it matches nothing), a text as a hash of its bytes. Records
// of equal word form one chain in file order; for texts, where two texts may
// share a word, the caller tells which records of the chain really hold the
// key (Find's verify).
//
// Memory: 8 bytes per record (its word and the chain) and 4 per slot (the
// first record of a word) of a table kept at most half full. A slot holds
// the record alone: the table is half the size it would be with the word
// beside it, and a look-up's slot is more often in the cache.
//
// Words that lie close together (ids counted from 1, the common key: a span
// no wider than the hash table would be) get a slot each instead, by their
// distance from the least: a look-up is one bounds test and one read, and
// the words themselves are not kept once built (4 bytes per record for the
// chain, 4 per value of the span, 4 more per value with TagDense).
class CKeyIndex {
 public:
  static constexpr std::int32_t kNone = -1;

  // Words of keys and of records alike.
  static std::uint32_t IntegerWord(std::int32_t value) {
    return static_cast<std::uint32_t>(value);
  }
  // False for a NaN, which has no word.
  static bool FloatWord(float value, std::uint32_t* word);
  static std::uint32_t TextWord(std::string_view text);

  // Room for n records, so that adding them never copies what was added.
  void Reserve(std::size_t n);
  // Appends the next record with its word, or (Skip) without one.
  void Add(std::uint32_t word);
  void Skip();
  // Builds the hash over the records added; called once, after the last Add.
  void Finish();

  std::int32_t size() const { return static_cast<std::int32_t>(next_.size()); }

  // The first record of word for which verify(record) holds, or kNone.
  template <typename Verify>
  std::int32_t Find(std::uint32_t word, const Verify& verify) const {
    for (std::int32_t r = Head(word); r != kNone; r = Next(r)) {
      if (verify(r)) return r;
    }
    return kNone;
  }
  // The first record of word: for numbers, whose words are their values,
  // the record holding the key; kNone when none does.
  std::int32_t First(std::uint32_t word) const { return Head(word); }
  // First, with tags[record] in *tag when there is one. After TagDense, a
  // dense word's tag is read from beside its slot: the look-up then waits
  // for one read of memory, not two in a row.
  std::int32_t FirstTagged(std::uint32_t word, const std::int32_t* tags,
                           std::int32_t* tag) const {
    if (!denseTags_.empty()) {
      const std::uint32_t i = word - least_;
      if (i >= span_) return kNone;
      *tag = denseTags_[i];
      return slots_[i];
    }
    const std::int32_t record = Head(word);
    if (record != kNone) *tag = tags[record];
    return record;
  }
  // After Finish, for FirstTagged: keeps tags[record] by each dense slot
  // (nothing when the index is not dense). tags has a tag for every record.
  void TagDense(const std::vector<std::int32_t>& tags);
  // Every such record, in file order.
  template <typename Verify>
  void FindAll(std::uint32_t word, const Verify& verify,
               std::vector<std::int32_t>* out) const {
    for (std::int32_t r = Head(word); r != kNone; r = Next(r)) {
      if (verify(r)) out->push_back(r);
    }
  }

  std::size_t MemoryBytes() const;

 private:
  // The first record added with this word, or kNone.
  std::int32_t Head(std::uint32_t word) const {
    if (dense_) {
      const std::uint32_t i = word - least_;
      return i < span_ ? slots_[i] : kNone;
    }
    const std::int32_t* slots = slots_.data();
    const std::uint32_t* words = words_.data();
    for (std::size_t s = SlotOf(word);; s = (s + 1) & mask_) {
      const std::int32_t record = slots[s];
      if (record == kNone || words[record] == word) return record;
    }
  }
  // The next record of the same word, or kNone.
  std::int32_t Next(std::int32_t record) const {
    return next_[static_cast<std::size_t>(record)];
  }
  std::size_t SlotOf(std::uint32_t word) const {
    // The low bits of an odd multiple: words that differ below the table's
    // size (any run of ids, the common key) never share a slot, so a
    // look-up finds its record on the first probe and its branch is
    // predicted. The high half is folded in first, so that words differing
    // only there (floats, flags) spread too.
    return static_cast<std::size_t>(((word ^ (word >> 16)) * 0x9E3779B1u) &
                                    mask_);
  }

  // Each record's word (0 for one skipped); none once dense.
  std::vector<std::uint32_t> words_;
  // Before Finish: kNone added with a word, or skipped. After: the chains.
  std::vector<std::int32_t> next_;
  // The first record of each word held, by its word's slot, or kNone. At
  // least two slots, at least one of them empty, so that a probe ends:
  // before Finish, two empty ones.
  std::vector<std::int32_t> slots_ = std::vector<std::int32_t>(2, kNone);
  std::size_t mask_ = 1;  // slots - 1
  // Slots by distance from the least word, for every word of least_ ..
  // least_ + span_ - 1 (as 32-bit sums), instead of by hash.
  bool dense_ = false;
  std::uint32_t least_ = 0;
  std::uint32_t span_ = 0;
  // After TagDense: the tag of each dense slot's record (any for none).
  std::vector<std::int32_t> denseTags_;

  bool ChooseDense(std::size_t hashSlots);
  std::size_t SlotToFill(std::uint32_t word) const;
};

#endif  // SELVANE_TABLES_KEYINDEX_H_
