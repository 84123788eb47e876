#include "readers/ReadWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t kSmall = 8 * 1024;  // the smallest window there is

char ByteAt(std::uint64_t pos) {
  return static_cast<char>(((pos * 2654435761u) >> 13) & 0xFFu);
}

std::string Expected(std::uint64_t pos, std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = ByteAt(pos + i);
  return s;
}

// Computed bytes of any length (2 GiB and more without the memory), with a
// log of what was asked. Data ends at `size`; from `readable` on nothing can
// be read, as a source that fails part way delivers short.
class PatternSource : public CByteSource {
 public:
  struct Call {
    std::uint64_t pos;
    std::uint64_t n;
  };

  explicit PatternSource(
      std::uint64_t size,
      std::uint64_t readable = std::numeric_limits<std::uint64_t>::max())
      : end_(std::min(size, readable)) {}

  std::uint32_t ReadAt(std::uint32_t pos, char* dst, std::uint32_t n) override {
    calls.push_back({pos, n});
    if (pos >= end_) return 0;
    const auto got =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(n, end_ - pos));
    for (std::uint32_t i = 0; i < got; ++i) dst[i] = ByteAt(pos + i);
    return got;
  }

  std::uint64_t LargestAsk() const {
    std::uint64_t most = 0;
    for (const Call& c : calls) most = std::max(most, c.n);
    return most;
  }
  std::uint64_t FurthestAsk() const {
    std::uint64_t most = 0;
    for (const Call& c : calls) most = std::max(most, c.pos + c.n);
    return most;
  }

  std::vector<Call> calls;

 private:
  std::uint64_t end_;
};

std::string ReadN(CReadWindow& w, std::size_t n, int* status) {
  std::string s(n, '\0');
  *status = w.Read(&s[0], n);
  return s;
}

TEST(ReadWindowTest, SequentialReadsOfEverySizeStraddleRefills) {
  const std::size_t kSize = 100003;  // not a multiple of anything used
  for (std::size_t capacity : {kSmall, CReadWindow::kDefaultCapacity}) {
    for (std::size_t chunk :
         {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{7},
          std::size_t{4095}, std::size_t{4097}, capacity - 1, capacity,
          capacity + 1}) {
      SCOPED_TRACE("capacity " + std::to_string(capacity) + " chunk " +
                   std::to_string(chunk));
      PatternSource source(kSize);
      CReadWindow w(capacity);
      w.Reset(&source);
      std::size_t pos = 0;
      while (pos + chunk <= kSize) {
        int status = -1;
        const std::string got = ReadN(w, chunk, &status);
        ASSERT_EQ(0, status) << "at " << pos;
        ASSERT_EQ(Expected(pos, chunk), got) << "at " << pos;
        pos += chunk;
        ASSERT_EQ(static_cast<std::int64_t>(pos), w.position());
      }
      // The rest is shorter than a chunk: the read fails as a whole.
      int status = 0;
      if (pos < kSize)
        ReadN(w, chunk, &status);
      else
        ReadN(w, 1, &status);
      EXPECT_EQ(-1, status);
      EXPECT_FALSE(w.ok());
      EXPECT_LE(source.LargestAsk(), std::max(capacity, chunk));
    }
  }
}

// A source that tells its size is read whole when it fits the window, else
// a window at a time; one that does not is read from 4 KiB on, doubling.
TEST(ReadWindowTest, SourceThatTellsItsSizeIsReadInTheFewestCalls) {
  class SizedSource : public PatternSource {
   public:
    SizedSource(std::uint64_t size, std::int64_t told)
        : PatternSource(size), told_(told) {}
    std::int64_t size() const override { return told_; }

   private:
    std::int64_t told_;
  };
  const std::size_t capacity = 64 * 1024;
  struct Case {
    std::uint64_t size;
    std::int64_t told;
    std::vector<std::uint64_t> asks;  // while reading every byte in order
  };
  for (const Case& c : std::vector<Case>{{10000, -1, {4096, 8192}},
                                         {10000, 10000, {10000}},
                                         {65536, 65536, {65536}},
                                         {100000, 100000, {65536, 65536}}}) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " told " +
                 std::to_string(c.told));
    SizedSource source(c.size, c.told);
    CReadWindow w(capacity);
    w.Reset(&source);
    for (std::uint64_t pos = 0; pos < c.size; ++pos) {
      const char* p = w.At(static_cast<std::int64_t>(pos), 1);
      ASSERT_NE(nullptr, p) << "at " << pos;
      ASSERT_EQ(ByteAt(pos), *p) << "at " << pos;
    }
    std::vector<std::uint64_t> asks;
    for (const auto& call : source.calls) asks.push_back(call.n);
    EXPECT_EQ(c.asks, asks);
  }
}

TEST(ReadWindowTest, ReadLargerThanWindowGoesStraightToSource) {
  PatternSource source(1 << 20);
  CReadWindow w(kSmall);
  w.Reset(&source);
  ASSERT_EQ(0, w.Seek(5));
  int status = -1;
  EXPECT_EQ(Expected(5, 3 * kSmall), ReadN(w, 3 * kSmall, &status));
  EXPECT_EQ(0, status);
  // One call for exactly those bytes into the caller's buffer.
  ASSERT_EQ(1u, source.calls.size());
  EXPECT_EQ(5u, source.calls[0].pos);
  EXPECT_EQ(3 * kSmall, source.calls[0].n);
  // Small reads go on through the window, which never grows.
  EXPECT_EQ(Expected(5 + 3 * kSmall, 10), ReadN(w, 10, &status));
  EXPECT_EQ(0, status);
  EXPECT_LE(source.calls.back().n, kSmall);

  // A large read across the end fails like any other.
  ASSERT_EQ(0, w.Seek((1 << 20) - kSmall));
  ReadN(w, 2 * kSmall, &status);
  EXPECT_EQ(-1, status);
}

TEST(ReadWindowTest, BackwardSeeksInsideAndBeforeTheWindow) {
  PatternSource source(1 << 20);
  CReadWindow w;
  w.Reset(&source);
  int status = -1;
  ASSERT_EQ(0, w.Seek(70000));
  EXPECT_EQ(Expected(70000, 8), ReadN(w, 8, &status));
  const std::size_t calls = source.calls.size();
  // Back inside the window: served without asking the source.
  ASSERT_EQ(0, w.Skip(-100));
  EXPECT_EQ(Expected(69908, 8), ReadN(w, 8, &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ(calls, source.calls.size());
  // Before the window: refilled from there.
  ASSERT_EQ(0, w.Seek(10));
  EXPECT_EQ(Expected(10, 8), ReadN(w, 8, &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ(calls + 1, source.calls.size());
}

TEST(ReadWindowTest, SeekPastEndSucceedsAndTheNextReadFails) {
  PatternSource source(1000);
  CReadWindow w;
  w.Reset(&source);
  EXPECT_EQ(0, w.Seek(5000));
  EXPECT_TRUE(w.ok());
  char c = 0;
  EXPECT_EQ(-1, w.ReadByte(&c));
  EXPECT_FALSE(w.ok());

  // A read that begins inside the data and ends past it fails too.
  w.Reset(&source);
  ASSERT_EQ(0, w.Seek(998));
  int status = 0;
  ReadN(w, 4, &status);
  EXPECT_EQ(-1, status);

  // The last byte itself is readable; the end is exact.
  w.Reset(&source);
  ASSERT_EQ(0, w.Seek(999));
  ASSERT_EQ(0, w.ReadByte(&c));
  EXPECT_EQ(ByteAt(999), c);
  EXPECT_EQ(-1, w.ReadByte(&c));
}

TEST(ReadWindowTest, FailureIsStickyUntilReset) {
  PatternSource source(1000);
  CReadWindow w;
  w.Reset(&source);
  char c = 0;
  ASSERT_EQ(0, w.Seek(1000));
  ASSERT_EQ(-1, w.ReadByte(&c));
  // Everything fails now, at positions that were fine before.
  EXPECT_EQ(-1, w.Seek(0));
  EXPECT_EQ(-1, w.ReadByte(&c));
  EXPECT_EQ(-1, w.Skip(0));
  EXPECT_EQ(-1, w.Read(&c, 0));
  EXPECT_EQ(-1, w.ReadThrough('\0', [](const char*, std::size_t) {}));
  EXPECT_FALSE(w.ok());

  w.Reset(&source);
  EXPECT_TRUE(w.ok());
  ASSERT_EQ(0, w.ReadByte(&c));
  EXPECT_EQ(ByteAt(0), c);

  // A refused seek is sticky as well, also where the window holds bytes.
  EXPECT_EQ(-1, w.Seek(-1));
  EXPECT_EQ(-1, w.ReadByte(&c));
  EXPECT_EQ(-1, w.ReadThrough('\0', [](const char*, std::size_t) {}));
  EXPECT_EQ(-1, w.Seek(0));
}

TEST(ReadWindowTest, SourceThatDeliversShortEndsTheData) {
  struct Case {
    std::uint64_t readable;  // the source delivers nothing from here on
    std::int64_t pos;
    std::size_t n;
    bool ok;
  };
  const Case cases[] = {
      {600, 0, 600, true},           {600, 0, 601, false},
      {600, 596, 4, true},           {600, 597, 4, false},
      {600, 600, 1, false},          {0, 0, 1, false},
      {5000, 4094, 4, true},         {5000, 4999, 1, true},
      {5000, 4999, 2, false},        {100000, 0, 99999, true},
      {100000, 50000, 50001, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.readable) + " " + std::to_string(c.pos) +
                 " " + std::to_string(c.n));
    PatternSource source(1 << 20, c.readable);
    CReadWindow w;
    w.Reset(&source);
    ASSERT_EQ(0, w.Seek(c.pos));
    int status = -1;
    const std::string got = ReadN(w, c.n, &status);
    EXPECT_EQ(c.ok ? 0 : -1, status);
    if (c.ok) {
      EXPECT_EQ(Expected(static_cast<std::uint64_t>(c.pos), c.n), got);
    }
  }
}

TEST(ReadWindowTest, KnownEndIsNotAskedAgain) {
  PatternSource source(1000);
  CReadWindow w;
  w.Reset(&source);
  char c = 0;
  ASSERT_EQ(0, w.ReadByte(&c));
  ASSERT_EQ(1u, source.calls.size());
  // Bytes before the end stay available from the window; past it fails
  // without a call.
  ASSERT_EQ(0, w.Seek(990));
  EXPECT_EQ(0, w.ReadByte(&c));
  ASSERT_EQ(0, w.Seek(2000));
  EXPECT_EQ(-1, w.ReadByte(&c));
  EXPECT_EQ(1u, source.calls.size());
}

TEST(ReadWindowTest, PositionsStopAtTwoGibibytesLessOne) {
  PatternSource source(std::uint64_t{1} << 32);  // data goes on beyond
  CReadWindow w;
  w.Reset(&source);
  char c = 0;
  ASSERT_EQ(0, w.Seek(kMaxPosition));
  ASSERT_EQ(0, w.ReadByte(&c));
  EXPECT_EQ(ByteAt(kMaxPosition), c);
  EXPECT_EQ(kMaxPosition + 1, w.position());
  EXPECT_EQ(-1, w.ReadByte(&c));  // byte 2^31 is outside every file

  w.Reset(&source);
  int status = -1;
  ASSERT_EQ(0, w.Seek(kMaxPosition - 1));
  EXPECT_EQ(Expected(kMaxPosition - 1, 2), ReadN(w, 2, &status));
  EXPECT_EQ(0, status);
  w.Reset(&source);
  ASSERT_EQ(0, w.Seek(kMaxPosition - 1));
  ReadN(w, 3, &status);
  EXPECT_EQ(-1, status);
  // So does a read too large for the window that ends one byte beyond.
  CReadWindow small(kSmall);
  small.Reset(&source);
  std::string big(3 * kSmall, '\0');
  ASSERT_EQ(
      0, small.Seek(kMaxPosition + 2 - static_cast<std::int64_t>(big.size())));
  EXPECT_EQ(-1, small.Read(&big[0], big.size()));
  EXPECT_LE(source.FurthestAsk(), std::uint64_t{1} << 31);

  struct Move {
    bool absolute;
    std::int64_t value;
    bool ok;
  };
  const Move moves[] = {
      {true, kMaxPosition, true},
      {true, kMaxPosition + 1, false},
      {true, -1, false},
      {true, std::numeric_limits<std::int64_t>::min(), false},
      {false, kMaxPosition, true},
      {false, kMaxPosition + 1, false},
      {false, std::numeric_limits<std::int64_t>::max(), false},
      {false, std::numeric_limits<std::int64_t>::min(), false},
      {false, -1, false},
  };
  for (const Move& m : moves) {
    SCOPED_TRACE(std::to_string(m.value));
    w.Reset(&source);
    EXPECT_EQ(m.ok ? 0 : -1, m.absolute ? w.Seek(m.value) : w.Skip(m.value));
    EXPECT_EQ(m.ok, w.ok());
  }
  // Distances that would overflow from where the cursor stands.
  w.Reset(&source);
  ASSERT_EQ(0, w.Seek(kMaxPosition));
  EXPECT_EQ(-1, w.Skip(std::numeric_limits<std::int64_t>::max()));
  w.Reset(&source);
  ASSERT_EQ(0, w.Seek(kMaxPosition));
  ASSERT_EQ(0, w.ReadByte(&c));  // cursor at 2^31
  EXPECT_EQ(-1, w.Skip(std::numeric_limits<std::int64_t>::max() - 1));
  // From the far end back to 0 in one step.
  w.Reset(&source);
  ASSERT_EQ(0, w.Seek(kMaxPosition));
  EXPECT_EQ(0, w.Skip(-kMaxPosition));
  EXPECT_EQ(0, w.position());

  // A count that no position can hold fails and reads nothing.
  w.Reset(&source);
  source.calls.clear();
  EXPECT_EQ(-1, w.Read(&c, std::numeric_limits<std::size_t>::max()));
  EXPECT_TRUE(source.calls.empty());
}

TEST(ReadWindowTest, ReadThroughHandsOverTheBytesBeforeTheDelimiter) {
  // Text that straddles a refill, found by its delimiter.
  std::string data(20000, 'x');
  data[0] = '\0';
  data[9000] = '\0';
  class StringSource : public CByteSource {
   public:
    explicit StringSource(const std::string& s) : s_(s) {}
    std::uint32_t ReadAt(std::uint32_t pos, char* dst,
                         std::uint32_t n) override {
      if (pos >= s_.size()) return 0;
      const auto got =
          static_cast<std::uint32_t>(std::min<std::size_t>(n, s_.size() - pos));
      s_.copy(dst, got, pos);
      return got;
    }

   private:
    const std::string& s_;
  } source(data);

  CReadWindow w(kSmall);
  w.Reset(&source);
  std::string text;
  auto append = [&text](const char* p, std::size_t n) { text.append(p, n); };
  ASSERT_EQ(0, w.ReadThrough('\0', append));
  EXPECT_EQ("", text);
  EXPECT_EQ(1, w.position());
  ASSERT_EQ(0, w.ReadThrough('\0', append));
  EXPECT_EQ(std::string(8999, 'x'), text);
  EXPECT_EQ(9001, w.position());

  // No delimiter before the end: fails, and what was seen stays handed over.
  text.clear();
  EXPECT_EQ(-1, w.ReadThrough('\0', append));
  EXPECT_EQ(std::string(20000 - 9001, 'x'), text);
  EXPECT_FALSE(w.ok());
}

TEST(ReadWindowTest, DetachedWindowFailsEverything) {
  CReadWindow fresh;
  char c = 0;
  EXPECT_FALSE(fresh.ok());
  EXPECT_EQ(-1, fresh.Seek(0));
  EXPECT_EQ(-1, fresh.ReadByte(&c));

  PatternSource source(100);
  CReadWindow w;
  w.Reset(&source);
  EXPECT_EQ(0, w.Read(&c, 0));  // nothing asked, nothing to fail
  EXPECT_TRUE(source.calls.empty());
  w.Reset(nullptr);
  EXPECT_EQ(-1, w.Seek(0));
  EXPECT_EQ(-1, w.ReadByte(&c));
}

}  // namespace
