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
// Memory: 4 bytes per record for the chains and 8 per slot (a word and the
// first record holding it) of a table kept at most half full; the words of
// the records are dropped once the slots hold them.
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
    const Slot* slots = slots_.data();
    for (std::size_t s = SlotOf(word);; s = (s + 1) & mask_) {
      const Slot& slot = slots[s];
      if (slot.record == kNone || slot.word == word) return slot.record;
    }
  }
  // The next record of the same word, or kNone.
  std::int32_t Next(std::int32_t record) const {
    return next_[static_cast<std::size_t>(record)];
  }
  std::size_t SlotOf(std::uint32_t word) const {
    // Fibonacci hashing: the top bits of the product spread any word.
    return static_cast<std::size_t>((word * 0x9E3779B1u) >> shift_);
  }

  // A word and the first record holding it, side by side: a look-up reads
  // one place.
  struct Slot {
    std::uint32_t word = 0;
    std::int32_t record = kNone;
  };

  std::vector<std::uint32_t> words_;  // until Finish
  // Before Finish: kNone added with a word, or skipped. After: the chains.
  std::vector<std::int32_t> next_;
  // At least two slots, at least one of them empty, so that a probe ends:
  // before Finish, two empty ones.
  std::vector<Slot> slots_ = std::vector<Slot>(2);
  std::size_t mask_ = 1;  // slots - 1
  int shift_ = 31;
};

#endif  // SELVANE_TABLES_KEYINDEX_H_
