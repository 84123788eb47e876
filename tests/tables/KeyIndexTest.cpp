// The key index against a plain scan of the words it was given: runs of
// close words (slots by distance) and scattered ones (slots by hash), with
// skipped records and words that wrap around the 32-bit range.
#include "tables/KeyIndex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Rng = std::mt19937;

std::uint32_t RandomWord(Rng& rng, int shape) {
  std::uniform_int_distribution<std::int32_t> pick(-40, 40);
  switch (shape) {
    case 0:  // ids from 1
      return static_cast<std::uint32_t>(pick(rng) + 41);
    case 1:  // around zero, negative ones included
      return static_cast<std::uint32_t>(pick(rng));
    default:  // anywhere
      return static_cast<std::uint32_t>(rng());
  }
}

TEST(KeyIndexTest, AgreesWithAScanOfItsWords) {
  Rng rng(7);
  for (int round = 0; round < 300; ++round) {
    const int shape = round % 3;
    const int n = std::uniform_int_distribution<int>(0, 120)(rng);
    std::vector<std::uint32_t> words;
    std::vector<bool> held;
    std::vector<std::int32_t> tags;
    CKeyIndex index;
    index.Reserve(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
      words.push_back(RandomWord(rng, shape));
      held.push_back(rng() % 8 != 0);
      tags.push_back(1000 + 3 * r);
      if (held.back()) {
        index.Add(words.back());
      } else {
        index.Skip();
      }
    }
    index.Finish();
    if (round % 2 == 0) index.TagDense(tags);
    // Every word added, and words near them and far from them.
    std::vector<std::uint32_t> asked = words;
    for (int i = 0; i < 40; ++i) asked.push_back(RandomWord(rng, i % 3));
    asked.push_back(0x80000000u);
    asked.push_back(0x7FFFFFFFu);
    for (const std::uint32_t word : asked) {
      std::vector<std::int32_t> want;
      for (int r = 0; r < n; ++r) {
        if (held[static_cast<std::size_t>(r)] &&
            words[static_cast<std::size_t>(r)] == word) {
          want.push_back(r);
        }
      }
      const std::int32_t first = want.empty() ? CKeyIndex::kNone : want[0];
      ASSERT_EQ(first, index.First(word)) << "round " << round;
      std::int32_t tag = -1;
      ASSERT_EQ(first, index.FirstTagged(word, tags.data(), &tag));
      if (first != CKeyIndex::kNone) {
        ASSERT_EQ(tags[static_cast<std::size_t>(first)], tag);
      }
      std::vector<std::int32_t> all;
      index.FindAll(
          word, [](std::int32_t) { return true; }, &all);
      ASSERT_EQ(want, all) << "round " << round;
    }
  }
}

}  // namespace
