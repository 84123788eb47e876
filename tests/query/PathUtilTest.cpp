// The path helpers every wide path and table name passes through.
#include "query/PathUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

TEST(WideToNarrowTest, KeepsLengthAndLowByteOfEachCharacter) {
  const std::wstring wide = std::wstring(L"a\u00E9\u0141") + L'\0' + L"\u20AC" +
                            static_cast<wchar_t>(0x1FF30);
  const std::string narrow = WideToNarrow(wide);
  ASSERT_EQ(wide.size(), narrow.size());
  EXPECT_EQ(std::string("a\xE9\x41") + '\0' + "\xAC" + "\x30", narrow);
  EXPECT_EQ("", WideToNarrow(L""));
}

TEST(NarrowExactTest, AcceptsEveryCharacterUpToByteRangeButNul) {
  std::wstring wide;
  std::string expected;
  for (int c = 1; c <= 0xFF; ++c) {
    wide += static_cast<wchar_t>(c);
    expected += static_cast<char>(c);
  }
  std::string narrow = "old";
  ASSERT_TRUE(NarrowExact(wide, &narrow));
  EXPECT_EQ(expected, narrow);
  ASSERT_TRUE(NarrowExact(L"", &narrow));
  EXPECT_EQ("", narrow);
}

TEST(NarrowExactTest, RefusesWhatWouldNameAnotherFileAndLeavesOutput) {
  const std::wstring refused[] = {
      L"dir/\u0100.xml",
      L"\u0167ood.xml",
      std::wstring(L"good.xml") + L'\0' + L"x",
      std::wstring(1, L'\0'),
      L"a\uFFFD",
      std::wstring(L"a") + static_cast<wchar_t>(-1),
  };
  for (const std::wstring& wide : refused) {
    std::string narrow = "untouched";
    EXPECT_FALSE(NarrowExact(wide, &narrow));
    EXPECT_EQ("untouched", narrow);
  }
}

// Seeded random paths of every length up to a few hundred characters, now
// and then with one character that cannot narrow anywhere in them: the
// answer is a character-by-character check's.
TEST(NarrowExactTest, RandomPathsNarrowAsCheckedOneByOne) {
  std::mt19937 rng(20261209);
  const wchar_t kRefused[] = {L'\0', static_cast<wchar_t>(0x100),
                              static_cast<wchar_t>(0xFFFF),
                              static_cast<wchar_t>(-1)};
  for (int round = 0; round < 2000; ++round) {
    std::wstring wide(rng() % 300, L'a');
    for (wchar_t& c : wide) c = static_cast<wchar_t>(1 + rng() % 0xFF);
    if (!wide.empty() && rng() % 2 == 0)
      wide[rng() % wide.size()] = kRefused[rng() % 4];
    bool exact = true;
    std::string expected;
    for (wchar_t c : wide) {
      const auto code = static_cast<std::uint32_t>(c);
      exact = exact && code != 0 && code <= 0xFF;
      expected += static_cast<char>(code);
    }
    std::string narrow = "before";
    ASSERT_EQ(exact, NarrowExact(wide, &narrow)) << "round " << round;
    EXPECT_EQ(exact ? expected : "before", narrow) << "round " << round;
  }
}

struct CutCase {
  const char* path;
  const char* expected;
};

TEST(AfterFirstBackslashTest, CutsAtTheFirstBackslashOnly) {
  const CutCase cases[] = {
      {"Spell.dbc", "Spell.dbc"},
      {"DBFilesClient\\Spell.dbc", "Spell.dbc"},
      {"A\\B\\Spell.dbc", "B\\Spell.dbc"},
      {"A/B/Spell.dbc", "A/B/Spell.dbc"},
      {"\\Spell.dbc", "Spell.dbc"},
      {"Dir\\", ""},
      {"", ""},
  };
  for (const CutCase& c : cases) {
    EXPECT_EQ(c.expected, AfterFirstBackslash(c.path)) << c.path;
  }
}

TEST(AfterLastSeparatorTest, CutsAtTheLastSeparator) {
  const CutCase cases[] = {
      {"cache.wdb", "cache.wdb"},
      {"C:\\Game\\Cache\\cache.wdb", "cache.wdb"},
      {"\\cache.wdb", "cache.wdb"},
      {"Cache\\", ""},
      {"", ""},
#ifdef _WIN32
      {"C:/Game/cache.wdb", "C:/Game/cache.wdb"},
#else
      {"/tmp/Cache/cache.wdb", "cache.wdb"},
      {"/tmp\\Cache/cache.wdb", "cache.wdb"},
      {"/tmp/Cache\\cache.wdb", "cache.wdb"},
#endif
  };
  for (const CutCase& c : cases) {
    EXPECT_EQ(c.expected, AfterLastSeparator(c.path)) << c.path;
  }
}

}  // namespace
