#include "readers/ArchiveGuard.h"

#include <StormLib.h>
#if SELVANE_HAVE_BZIP2
#include <bzlib.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

// Each rule below mirrors a step of the library's open call. A rule either
// lets the open go on, knows the library will refuse the file by itself
// (safe: the caller gets the library's error), or knows the library would
// crash or hang (unsafe).

namespace {

using std::uint16_t;
using std::uint32_t;
using std::uint64_t;

constexpr uint32_t kMpqId = 0x1A51504D;       // "MPQ\x1A"
constexpr uint32_t kUserDataId = 0x1B51504D;  // "MPQ\x1B"
constexpr uint32_t kMpkId = 0x1A4B504D;       // "MPK\x1A", another format
constexpr uint32_t kMapFileId = 0x57334D48;   // "HM3W"
constexpr uint32_t kHetId = 0x1A544548;       // "HET\x1A"
constexpr uint32_t kBetId = 0x1A544542;       // "BET\x1A"
// The hash and block table keys, which the HET and BET tables use too.
constexpr uint32_t kHashKey = 0xC3AF3770;
constexpr uint32_t kBlockKey = 0xEC83B3A3;

constexpr uint64_t kMinFileSize = 0x20;
constexpr uint64_t kSearchEnd = 0x08000000;  // the header search stops here
constexpr uint32_t kSearchChunk = 0x1000;
constexpr uint32_t kSearchStep = 0x200;
constexpr uint32_t kHeaderBytes = 0xD0;
constexpr uint32_t kCountMask = 0x0FFFFFFF;
// Entry limit the library assumes when only the extended tables load.
constexpr uint32_t kHetOnlyFileLimit = 0x80000;
// Entries of the table the library makes for an archive without one.
constexpr uint32_t kDefaultHashCount = 0x1000;
// A hash or block table bigger than the whole file holds at most this many
// entries. The library allocates (80 bytes per entry), zero-fills, decrypts
// and walks a table of the size the header claims, even where the file ends
// first: 2^24 entries of a hash table take it 9 s and 1.3 GiB, 2^20 entries
// 0.8 s and 85 MiB, as much as a real archive of that many entries costs.
// Real tables fit in their file.
constexpr uint64_t kUnbackedEntryLimit = uint64_t{1} << 20;
// No allocation of this many bytes succeeds in a 64-bit address space.
constexpr uint64_t kImpossibleAllocation = uint64_t{1} << 47;
// Extended table header: signature, version, data size.
constexpr uint32_t kExtHeaderBytes = 12;
// Decrypted dwords of an extended table header that the checks use.
constexpr uint32_t kExtFieldCount = 19;

enum class Verdict { kGoOn, kSafe, kUnsafe };
enum class Maybe { kNo, kYes, kUnknown };

inline uint16_t Fixed16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Fixed32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Fixed64(const unsigned char* p) {
  return Fixed32(p) | (static_cast<uint64_t>(Fixed32(p + 4)) << 32);
}

// The header in the newest layout, the form the library converts every
// header version into before using it.
struct MpqHeader {
  uint32_t header_size = 0;
  uint32_t archive_size = 0;
  uint16_t version = 0;
  uint16_t sector_shift = 0;
  uint32_t hash_pos = 0;
  uint32_t block_pos = 0;
  uint32_t hash_count = 0;
  uint32_t block_count = 0;
  uint64_t hi_block_pos = 0;
  uint16_t hash_pos_hi = 0;
  uint16_t block_pos_hi = 0;
  uint64_t archive_size64 = 0;
  uint64_t bet_pos = 0;
  uint64_t het_pos = 0;
  uint64_t hash_size64 = 0;
  uint64_t block_size64 = 0;
  uint64_t hi_block_size64 = 0;
  uint64_t het_size64 = 0;
  uint64_t bet_size64 = 0;

  uint64_t HashPos64() const {
    return (static_cast<uint64_t>(hash_pos_hi) << 32) | hash_pos;
  }
  uint64_t BlockPos64() const {
    return (static_cast<uint64_t>(block_pos_hi) << 32) | block_pos;
  }
  // Clears what follows the version 1 part (version 2 keeps its own).
  void ClearAfterV1() {
    const MpqHeader v1 = *this;
    *this = MpqHeader();
    header_size = v1.header_size;
    archive_size = v1.archive_size;
    version = v1.version;
    sector_shift = v1.sector_shift;
    hash_pos = v1.hash_pos;
    block_pos = v1.block_pos;
    hash_count = v1.hash_count;
    block_count = v1.block_count;
  }
  void ClearAfterV2() {
    const MpqHeader v2 = *this;
    ClearAfterV1();
    hi_block_pos = v2.hi_block_pos;
    hash_pos_hi = v2.hash_pos_hi;
    block_pos_hi = v2.block_pos_hi;
  }
};

MpqHeader DecodeHeader(const unsigned char* p) {
  MpqHeader h;
  h.header_size = Fixed32(p + 0x04);
  h.archive_size = Fixed32(p + 0x08);
  h.version = Fixed16(p + 0x0C);
  h.sector_shift = Fixed16(p + 0x0E);
  h.hash_pos = Fixed32(p + 0x10);
  h.block_pos = Fixed32(p + 0x14);
  h.hash_count = Fixed32(p + 0x18);
  h.block_count = Fixed32(p + 0x1C);
  h.hi_block_pos = Fixed64(p + 0x20);
  h.hash_pos_hi = Fixed16(p + 0x28);
  h.block_pos_hi = Fixed16(p + 0x2A);
  h.archive_size64 = Fixed64(p + 0x2C);
  h.bet_pos = Fixed64(p + 0x34);
  h.het_pos = Fixed64(p + 0x3C);
  h.hash_size64 = Fixed64(p + 0x44);
  h.block_size64 = Fixed64(p + 0x4C);
  h.hi_block_size64 = Fixed64(p + 0x54);
  h.het_size64 = Fixed64(p + 0x5C);
  h.bet_size64 = Fixed64(p + 0x64);
  return h;
}

// Bytes of the header the library uses for a given version field.
uint32_t HeaderBytesUsed(const unsigned char* p, bool map_file) {
  const uint16_t version = Fixed16(p + 0x0C);
  const uint32_t size = Fixed32(p + 0x04);
  if (map_file) return 0x20;
  switch (version) {
    case 1:
      return size == 0x2C ? 0x2C : 0x20;
    case 2:
      return size >= 0x44 ? 0x44 : 0x2C;
    case 3:
      return kHeaderBytes;
    default:
      return 0x20;
  }
}

// A header of an unknown version that the library takes for the header of
// yet another archive format.
bool LooksLikeOtherFormat(const MpqHeader& h, uint64_t file_size) {
  return h.header_size == 0x20 && (h.block_count & 0xFFFF) == 0 &&
         (h.block_count >> 16) == 3 && h.archive_size == file_size &&
         (file_size >> 32) == 0;
}

void ConvertV1(MpqHeader* h) {
  h->version = 0;
  h->header_size = 0x20;
  h->sector_shift &= 0xFF;
  h->ClearAfterV1();
  h->hash_size64 = static_cast<uint64_t>(h->hash_count) * 16;
  h->block_size64 = static_cast<uint64_t>(h->block_count) * 16;
  h->archive_size64 = h->archive_size;
}

uint64_t ArchiveSizeV2(const MpqHeader& h, uint64_t mpq_pos,
                       uint64_t file_size) {
  const uint64_t to_end = file_size - mpq_pos;
  if ((file_size >> 32) != 0 || h.block_pos >= h.archive_size) return to_end;
  const uint32_t after_block = h.archive_size - h.block_pos;
  if (after_block <= static_cast<uint64_t>(h.block_count) * 16)
    return h.archive_size;
  const uint32_t room =
      static_cast<uint32_t>(file_size) - static_cast<uint32_t>(mpq_pos);
  return h.archive_size <= room ? h.archive_size : to_end;
}

// Version 2 derives table sizes from the table order and asserts that they
// agree with the entry counts: a header that disagrees aborts the process.
Verdict ConvertV2(MpqHeader* h, uint64_t mpq_pos, uint64_t file_size) {
  h->ClearAfterV2();
  const uint64_t block_bytes = static_cast<uint64_t>(h->block_count) * 16;
  h->hash_size64 = static_cast<uint64_t>(h->hash_count) * 16;
  h->block_size64 = block_bytes;
  const uint64_t hash_pos = h->HashPos64();
  const uint64_t block_pos = h->BlockPos64();
  if (hash_pos > block_pos) {
    h->archive_size64 = h->archive_size;
    return Verdict::kGoOn;
  }
  h->hash_size64 = block_pos - hash_pos;
  if (h->hi_block_pos != 0) {
    h->block_size64 = h->hi_block_pos - block_pos;
    if (h->block_size64 > block_bytes) return Verdict::kUnsafe;
    h->archive_size64 = ArchiveSizeV2(*h, mpq_pos, file_size);
    h->hi_block_size64 = h->archive_size64 - h->hi_block_pos;
    if (h->hi_block_size64 != static_cast<uint64_t>(h->block_count) * 2)
      return Verdict::kUnsafe;
  } else {
    h->archive_size64 = ArchiveSizeV2(*h, mpq_pos, file_size);
    h->block_size64 = h->archive_size64 - block_pos;
    if (h->block_size64 > block_bytes) return Verdict::kUnsafe;
  }
  return Verdict::kGoOn;
}

// Version 3 sizes each table as the gap to the next one.
void ConvertV3(MpqHeader* h) {
  if (h->header_size < 0x44) {
    h->archive_size64 = h->archive_size;
    h->het_pos = 0;
    h->bet_pos = 0;
  }
  h->hash_size64 = h->block_size64 = h->hi_block_size64 = 0;
  h->het_size64 = h->bet_size64 = 0;
  uint64_t end = h->archive_size64;
  if (h->hi_block_pos != 0) {
    h->hi_block_size64 = end - h->hi_block_pos;
    end = h->hi_block_pos;
  }
  if (h->BlockPos64() != 0) {
    h->block_size64 = end - h->BlockPos64();
    end = h->BlockPos64();
  }
  if (h->HashPos64() != 0) {
    h->hash_size64 = end - h->HashPos64();
    end = h->HashPos64();
  }
  if (h->bet_pos != 0) {
    h->bet_size64 = end - h->bet_pos;
    end = h->bet_pos;
  }
  if (h->het_pos != 0) h->het_size64 = end - h->het_pos;
}

Verdict ConvertHeader(MpqHeader* h, uint64_t mpq_pos, uint64_t file_size,
                      bool map_file) {
  if (map_file) {
    ConvertV1(h);
    return Verdict::kGoOn;
  }
  switch (h->version) {
    case 0:
      ConvertV1(h);
      return Verdict::kGoOn;
    case 1:
      if (h->header_size != 0x2C) {
        ConvertV1(h);
        return Verdict::kGoOn;
      }
      return ConvertV2(h, mpq_pos, file_size);
    case 2:
      ConvertV3(h);
      return Verdict::kGoOn;
    case 3:
      // Used as stored. A header whose checksum is wrong is refused by the
      // library; judging its fields anyway only errs on the safe side.
      return Verdict::kGoOn;
    default:
      if (LooksLikeOtherFormat(*h, file_size)) return Verdict::kUnsafe;
      ConvertV1(h);
      return Verdict::kGoOn;
  }
}

// Where a header offset lands in the file: version 1 offsets wrap at 4 GiB.
uint64_t FileOffset(const MpqHeader& h, uint64_t mpq_pos, uint64_t offset) {
  const uint64_t sum = mpq_pos + offset;
  return h.version == 0 ? static_cast<uint32_t>(sum) : sum;
}

// The library refuses a header with any table starting past the file end.
bool TablesStartInFile(const MpqHeader& h, uint64_t mpq_pos,
                       uint64_t file_size) {
  if (h.het_pos != 0 && mpq_pos + h.het_pos > file_size) return false;
  if (h.bet_pos != 0 && mpq_pos + h.bet_pos > file_size) return false;
  if (h.HashPos64() != 0 && FileOffset(h, mpq_pos, h.HashPos64()) > file_size)
    return false;
  if (h.BlockPos64() != 0 && FileOffset(h, mpq_pos, h.BlockPos64()) > file_size)
    return false;
  if (h.hi_block_pos != 0 && mpq_pos + h.hi_block_pos > file_size) return false;
  return true;
}

bool CountIsBounded(uint32_t count, uint64_t file_size) {
  return count <= kUnbackedEntryLimit ||
         static_cast<uint64_t>(count) * 16 <= file_size;
}

bool ClassicTableUnpacksSafely(CArchiveGuardFile* file, uint64_t pos,
                               uint32_t stored, uint32_t size, uint32_t key);

// How the library's loader fares with a classic (hash or block) table:
// `stored` bytes at `pos` are read into a buffer of `size` bytes, and a
// stored size below the table size means the table is compressed.
Verdict CheckClassicTable(CArchiveGuardFile* file, const MpqHeader& h,
                          uint64_t pos, uint32_t stored, uint32_t size,
                          uint32_t key, Maybe* loads) {
  const uint64_t file_size = file->size();
  *loads = Maybe::kNo;
  if (size == 0) return Verdict::kGoOn;
  // At this position the library reads from wherever its stream stands.
  if (pos == 0xFFFFFFFF) return Verdict::kUnsafe;
  // Version 1 tables are cut at the file end and zero-filled.
  if (h.version == 0) {
    *loads = Maybe::kYes;
    return Verdict::kGoOn;
  }
  const uint64_t avail = pos <= file_size ? file_size - pos : 0;
  // A stored size above the table size overruns the buffer, even where the
  // read then fails at the file end.
  if (std::min<uint64_t>(stored, avail) > size) return Verdict::kUnsafe;
  if (stored > avail) return Verdict::kGoOn;
  *loads = stored < size ? Maybe::kUnknown : Maybe::kYes;
  // Compressed, it is decrypted and unpacked by the version 2 path.
  if (stored < size && !ClassicTableUnpacksSafely(file, pos, stored, size, key))
    return Verdict::kUnsafe;
  return Verdict::kGoOn;
}

bool IsPrefixOf(const unsigned char* p, uint64_t n, uint32_t id) {
  for (uint64_t i = 0; i < n && i < 4; ++i)
    if (p[i] != ((id >> (8 * i)) & 0xFF)) return false;
  return true;
}

// The values the library's table cipher draws its keys from.
const std::array<uint32_t, 0x500>& CipherTable() {
  static const std::array<uint32_t, 0x500> table = [] {
    std::array<uint32_t, 0x500> t{};
    uint32_t seed = 0x00100001;
    for (uint32_t i = 0; i < 0x100; ++i) {
      for (uint32_t j = 0; j < 5; ++j) {
        seed = (seed * 125 + 3) % 0x2AAAAB;
        const uint32_t high = (seed & 0xFFFF) << 16;
        seed = (seed * 125 + 3) % 0x2AAAAB;
        t[i + j * 0x100] = high | (seed & 0xFFFF);
      }
    }
    return t;
  }();
  return table;
}

// The library's table encryption, undone one dword after another: each
// dword's key depends on all the dwords before it.
class Decryptor {
 public:
  explicit Decryptor(uint32_t key) : key_(key) {}
  uint32_t Next(uint32_t word) {
    seed_ += CipherTable()[0x400 + (key_ & 0xFF)];
    const uint32_t plain = word ^ (key_ + seed_);
    key_ = ((~key_ << 0x15) + 0x11111111) | (key_ >> 0x0B);
    seed_ = plain + seed_ + (seed_ << 5) + 3;
    return plain;
  }

 private:
  uint32_t key_;
  uint32_t seed_ = 0xEEEEEEEE;
};

// Decrypts n dwords in place.
void DecryptWords(uint32_t* words, uint32_t n, uint32_t key) {
  Decryptor d(key);
  for (uint32_t i = 0; i < n; ++i) words[i] = d.Next(words[i]);
}

// An extended (HET or BET) table as the library's loader sees it.
struct ExtTable {
  Maybe present = Maybe::kNo;  // kUnknown: stored compressed
  uint32_t version = 0;
  uint32_t data_size = 0;
  uint64_t buffer_size = 0;
  // Decrypted dwords after the 12-byte header (uncompressed tables only);
  // the ones past `known` were never read from the file.
  std::array<uint32_t, kExtFieldCount> field{};
  uint32_t known = 0;
  uint64_t at = 0;  // position in the file
  uint32_t key = 0;
};

// An uncompressed extended table's bytes as the library holds them once
// loaded: the whole dwords after the header decrypted (the length to
// decrypt taken in 32 bits), any bytes after them as stored. Bytes are
// asked for at positions that never decrease.
class ExtTableBytes {
 public:
  ExtTableBytes(CArchiveGuardFile* file, const ExtTable& t)
      : file_(file),
        table_(t),
        words_(static_cast<uint32_t>(t.buffer_size - kExtHeaderBytes) / 4),
        decryptor_(t.key) {}

  // The byte at `pos` from the table's start; pos is past the header.
  bool At(uint64_t pos, unsigned char* out) {
    const uint64_t word = (pos - kExtHeaderBytes) / 4;
    if (word >= words_) return file_->Read(table_.at + pos, 1, out);
    while (word >= next_) {
      if (!Decrypt()) return false;
    }
    const uint32_t plain = chunk_[word - (next_ - chunk_words_)];
    *out = static_cast<unsigned char>(plain >>
                                      (8 * ((pos - kExtHeaderBytes) % 4)));
    return true;
  }

 private:
  static constexpr uint32_t kChunkWords = 1024;

  // Decrypts the next chunk of dwords.
  bool Decrypt() {
    chunk_words_ =
        static_cast<uint32_t>(std::min<uint64_t>(kChunkWords, words_ - next_));
    unsigned char raw[kChunkWords * 4];
    if (!file_->Read(table_.at + kExtHeaderBytes + next_ * 4, chunk_words_ * 4,
                     raw))
      return false;
    for (uint32_t i = 0; i < chunk_words_; ++i)
      chunk_[i] = decryptor_.Next(Fixed32(raw + 4 * i));
    next_ += chunk_words_;
    return true;
  }

  CArchiveGuardFile* file_;
  const ExtTable& table_;
  uint64_t words_;
  Decryptor decryptor_;
  std::array<uint32_t, kChunkWords> chunk_{};
  uint32_t chunk_words_ = 0;
  uint64_t next_ = 0;  // dwords decrypted so far
};

// The loader allocates the full 64-bit size but reads only its low 32 bits;
// a failed allocation or read leaves the table out.
Verdict ReadExtTable(CArchiveGuardFile* file, uint64_t mpq_pos, uint64_t pos,
                     uint64_t size, uint32_t id, uint32_t key, ExtTable* out) {
  *out = ExtTable();
  if (pos == 0 || size == 0 || size >= kImpossibleAllocation)
    return Verdict::kGoOn;
  const uint32_t n = static_cast<uint32_t>(size);
  const uint64_t at = mpq_pos + pos;
  if (at > file->size() || n > file->size() - at) return Verdict::kGoOn;
  unsigned char head[kExtHeaderBytes];
  if (!file->Read(at, std::min<uint32_t>(n, 4), head)) return Verdict::kGoOn;
  // Shorter than its signature: compared with bytes past its buffer.
  if (n < 4) return IsPrefixOf(head, n, id) ? Verdict::kUnsafe : Verdict::kGoOn;
  if (Fixed32(head) != id) return Verdict::kGoOn;
  // Shorter than its header: the decryption length wraps around.
  if (n < kExtHeaderBytes) return Verdict::kUnsafe;
  if (!file->Read(at, kExtHeaderBytes, head)) return Verdict::kGoOn;
  out->at = at;
  out->key = key;
  out->version = Fixed32(head + 4);
  out->data_size = Fixed32(head + 8);
  out->buffer_size = size;
  if (static_cast<uint64_t>(out->data_size) + kExtHeaderBytes > size) {
    // Decompression is handed the whole size as input although the header
    // takes 12 of its bytes; with equal sizes the input is copied as it is,
    // 12 bytes past its buffer.
    if (out->data_size == n) return Verdict::kUnsafe;
    out->present = Maybe::kUnknown;
    return Verdict::kGoOn;
  }
  const uint32_t words =
      std::min<uint32_t>((n - kExtHeaderBytes) / 4, kExtFieldCount);
  unsigned char raw[kExtFieldCount * 4];
  if (!file->Read(at + kExtHeaderBytes, words * 4, raw)) return Verdict::kGoOn;
  for (uint32_t i = 0; i < words; ++i) out->field[i] = Fixed32(raw + 4 * i);
  DecryptWords(out->field.data(), words, key);
  out->known = words;
  out->present = Maybe::kYes;
  return Verdict::kGoOn;
}

uint32_t BitCount(uint32_t v) {
  uint32_t bits = 0;
  for (; v != 0; v >>= 1) ++bits;
  return bits;
}

// The HET loader asserts the consistency of the table's own header.
Verdict CheckHet(const ExtTable& het, Maybe* loads) {
  *loads = het.present;
  if (het.present == Maybe::kNo) return Verdict::kGoOn;
  if (het.version != 1) return Verdict::kUnsafe;
  if (het.present == Maybe::kUnknown) return Verdict::kGoOn;
  if (het.data_size <= 0x1F) {
    *loads = Maybe::kNo;
    return Verdict::kGoOn;
  }
  // Fields past the bytes read come from an uninitialised allocation.
  if (het.known < 8) return Verdict::kUnsafe;
  const auto& f = het.field;
  const uint32_t entries = f[1], total = f[2], name_bits = f[3];
  const uint32_t index_bits = f[4], index_size = f[6], index_bytes = f[7];
  if (het.data_size != f[0]) {
    *loads = Maybe::kNo;
    return Verdict::kGoOn;
  }
  if (0x20 + static_cast<uint64_t>(total) + index_bytes != het.data_size)
    return Verdict::kUnsafe;
  if (BitCount(entries) != index_bits) return Verdict::kUnsafe;
  if (((index_bits * total + 7) >> 3) != index_bytes) return Verdict::kUnsafe;
  if (name_bits != 0x40) return Verdict::kUnsafe;
  // A zero total is replaced by 4/3 of the entries, then asserted unchanged.
  if (total == 0 && (entries * 4) / 3 != 0) return Verdict::kUnsafe;
  if (total == 0) return Verdict::kGoOn;
  // Whether or not the BET table loads, every name looked up probes slots
  // below the entry count among `total` name hashes and reads the slot's
  // `index_size` bits of the index array into a dword on the stack.
  if (entries > total) return Verdict::kUnsafe;
  if (static_cast<uint64_t>(total) * index_bits > 0xFFFFFFFF)
    return Verdict::kUnsafe;
  if (index_size > 32 || index_size > index_bits) return Verdict::kUnsafe;
  return Verdict::kGoOn;
}

// Whether `count` bits at `index` fit in an entry of `entry_bits` bits and
// in a destination of `max_bits`.
bool FieldFits(uint32_t index, uint32_t count, uint32_t entry_bits,
               uint32_t max_bits) {
  return count <= max_bits &&
         static_cast<uint64_t>(index) + count <= entry_bits;
}

// The file table walk reads every BET entry's fields and every name hash;
// each read must stay inside its bit array (reads of the HET index array
// are bounded with the HET table).
bool WalkStaysInBounds(const ExtTable& bet) {
  const auto& b = bet.field;
  const uint32_t entries = b[1], entry_bits = b[3];
  if (static_cast<uint64_t>(entries) * entry_bits > 0xFFFFFFFF) return false;
  if (static_cast<uint64_t>(entries) * b[14] > 0xFFFFFFFF) return false;
  if (!FieldFits(b[4], b[9], entry_bits, 64) ||
      !FieldFits(b[5], b[10], entry_bits, 32) ||
      !FieldFits(b[6], b[11], entry_bits, 32))
    return false;
  if (b[18] != 0 && !FieldFits(b[7], b[12], entry_bits, 32)) return false;
  return b[16] <= b[14];
}

// The file table walk looks each entry's flags up by the index the entry
// holds, without a bound: an index past the flag array reads past its
// buffer, gigabytes past for a wide index field. Every index is read from
// the entries as the library reads them (bit fields, least significant bit
// first) and must name one of the flags.
bool FlagIndexesInRange(CArchiveGuardFile* file, const ExtTable& bet) {
  const auto& f = bet.field;
  const uint32_t entries = f[1], entry_bits = f[3], first = f[7];
  const uint32_t bits = f[12], flags = f[18];
  if (flags == 0 || bits == 0) return true;
  ExtTableBytes bytes(file, bet);
  // The entries follow the header's fields and the flag array.
  const uint64_t begin =
      (kExtHeaderBytes + 4 * kExtFieldCount + uint64_t{flags} * 4) * 8;
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t pos = begin + i * entry_bits + first;
    uint64_t window = 0;
    const uint64_t last = (pos + bits - 1) / 8;
    for (uint64_t b = pos / 8; b <= last; ++b) {
      unsigned char byte = 0;
      if (!bytes.At(b, &byte)) return false;
      window |= static_cast<uint64_t>(byte) << (8 * (b - pos / 8));
    }
    const uint64_t index = (window >> (pos % 8)) & ((uint64_t{1} << bits) - 1);
    if (index >= flags) return false;
  }
  return true;
}

// The BET loader asserts that the table agrees with the archive header and
// copies its arrays without a bound. It allocates the flag array at the
// flag count's full 64-bit byte size but copies only the low 32 bits of it:
// a count of 2^30 or more can pass for a short array yet asks for 4 GiB or
// more, and where that fails the file table walk reads flags through null.
Verdict CheckBet(CArchiveGuardFile* file, const ExtTable& bet,
                 const MpqHeader& h, uint32_t file_limit) {
  if (bet.present == Maybe::kNo) return Verdict::kGoOn;
  if (bet.version != 1) return Verdict::kUnsafe;
  if (bet.present == Maybe::kUnknown) return Verdict::kGoOn;
  if (bet.data_size <= 0x4B) return Verdict::kGoOn;
  if (bet.known < kExtFieldCount) return Verdict::kUnsafe;
  const auto& f = bet.field;
  if (bet.data_size != f[0]) return Verdict::kGoOn;
  const uint32_t entries = f[1];
  if (entries != h.block_count) return Verdict::kUnsafe;
  if (entries > file_limit) return Verdict::kUnsafe;
  if (f[13] != 0) return Verdict::kUnsafe;
  const uint64_t flag_bytes = uint64_t{f[18]} * 4;
  const uint64_t entry_bytes = (static_cast<uint32_t>(entries * f[3]) + 7) >> 3;
  const uint64_t hash_bytes = (static_cast<uint32_t>(entries * f[14]) + 7) >> 3;
  if (0x58 + flag_bytes + entry_bytes + hash_bytes > bet.buffer_size)
    return Verdict::kUnsafe;
  // Only with 56-bit name hashes are the tables walked, bit field by bit
  // field, into fixed-size destinations.
  if (f[16] != 56 || entries == 0) return Verdict::kGoOn;
  if (!WalkStaysInBounds(bet)) return Verdict::kUnsafe;
  return FlagIndexesInRange(file, bet) ? Verdict::kGoOn : Verdict::kUnsafe;
}

// The table loading in the library's order: HET, classic hash table, BET,
// classic block table. The open fails where neither kind of table loads.
Verdict CheckTables(CArchiveGuardFile* file, const MpqHeader& h,
                    uint64_t mpq_pos) {
  const uint64_t file_size = file->size();
  // An archive without any table gets an empty hash table made for it.
  const bool default_hash = h.hash_count == 0 && h.het_size64 == 0;
  Maybe het_loads = Maybe::kNo;
  ExtTable het;
  if (!default_hash && h.het_pos != 0) {
    if (ReadExtTable(file, mpq_pos, h.het_pos, h.het_size64, kHetId, kHashKey,
                     &het) == Verdict::kUnsafe ||
        CheckHet(het, &het_loads) == Verdict::kUnsafe)
      return Verdict::kUnsafe;
  }
  Maybe hash_loads = default_hash ? Maybe::kYes : Maybe::kNo;
  if (CheckClassicTable(file, h, FileOffset(h, mpq_pos, h.HashPos64()),
                        static_cast<uint32_t>(h.hash_size64), h.hash_count * 16,
                        kHashKey, &hash_loads) == Verdict::kUnsafe)
    return Verdict::kUnsafe;
  if (default_hash) hash_loads = Maybe::kYes;
  if (hash_loads != Maybe::kNo && !CountIsBounded(h.hash_count, file_size))
    return Verdict::kUnsafe;
  if (het_loads == Maybe::kNo && hash_loads == Maybe::kNo)
    return Verdict::kSafe;
  if (het_loads != Maybe::kNo) {
    const uint32_t hash_entries =
        default_hash ? kDefaultHashCount : h.hash_count;
    uint32_t file_limit = kHetOnlyFileLimit;
    if (hash_loads == Maybe::kYes) file_limit = hash_entries;
    if (hash_loads == Maybe::kUnknown)
      file_limit = std::min(hash_entries, kHetOnlyFileLimit);
    ExtTable bet;
    if (ReadExtTable(file, mpq_pos, h.bet_pos, h.bet_size64, kBetId, kBlockKey,
                     &bet) == Verdict::kUnsafe ||
        CheckBet(file, bet, h, file_limit) == Verdict::kUnsafe)
      return Verdict::kUnsafe;
  }
  if (hash_loads == Maybe::kNo) return Verdict::kSafe;
  Maybe block_loads = Maybe::kNo;
  if (CheckClassicTable(file, h, FileOffset(h, mpq_pos, h.BlockPos64()),
                        static_cast<uint32_t>(h.block_size64),
                        h.block_count * 16, kBlockKey,
                        &block_loads) == Verdict::kUnsafe)
    return Verdict::kUnsafe;
  return Verdict::kSafe;
}

// Everything after the header was found: conversion, sector size, table
// positions and sizes, extended tables.
Verdict CheckArchive(CArchiveGuardFile* file, const unsigned char* raw,
                     uint64_t mpq_pos, bool map_file) {
  const uint64_t file_size = file->size();
  MpqHeader h = DecodeHeader(raw);
  const Verdict converted = ConvertHeader(&h, mpq_pos, file_size, map_file);
  if (converted != Verdict::kGoOn) return converted;
  if (h.sector_shift == 0) return Verdict::kSafe;
  // The sector size is 512 shifted left in 32 bits: from a shift of 23 on
  // it is 0, and the first sector computation divides by it.
  if ((uint32_t{0x200} << (h.sector_shift & 31)) == 0) return Verdict::kUnsafe;
  h.hash_count &= kCountMask;
  h.block_count &= kCountMask;
  if (!TablesStartInFile(h, mpq_pos, file_size)) return Verdict::kSafe;
  // The file table has an entry per block whether or not the blocks load.
  if (!CountIsBounded(h.block_count, file_size)) return Verdict::kUnsafe;
  return CheckTables(file, h, mpq_pos);
}

// The header search: signatures at 512-byte steps, read in 4 KiB chunks,
// a user-data block redirecting the search once. Where the library would
// decide on bytes past the end of the file (stale buffer contents), the
// file is unsafe.
Verdict SearchHeader(CArchiveGuardFile* file) {
  const uint64_t file_size = file->size();
  if (file_size < kMinFileSize) return Verdict::kSafe;
  const uint64_t end = std::min(file_size, kSearchEnd);
  bool user_data_seen = false;
  bool map_file = false;
  uint64_t offset = 0;
  while (offset < end) {
    const uint32_t bytes = static_cast<uint32_t>(
        std::min<uint64_t>(file_size - offset, kSearchChunk));
    const unsigned char* chunk = file->Bytes(offset, bytes);
    if (chunk == nullptr) return Verdict::kSafe;
    if (offset == 0) {
      if (Fixed32(chunk) == 0x46464952 && Fixed32(chunk + 8) == 0x20495641 &&
          Fixed32(chunk + 12) == 0x5453494C)
        return Verdict::kSafe;  // a video file, refused
      map_file = Fixed32(chunk) == kMapFileId && Fixed32(chunk + 4) == 0;
    }
    const bool user_data_allowed = !map_file && !user_data_seen;
    bool redirected = false;
    for (uint32_t in = 0; in < bytes; in += kSearchStep) {
      const unsigned char* slot = chunk + in;
      const uint64_t avail = bytes - in;
      const uint64_t slot_pos = offset + in;
      if (avail < 4) {
        if (IsPrefixOf(slot, avail, kMpqId) ||
            (user_data_allowed && IsPrefixOf(slot, avail, kUserDataId)) ||
            (!map_file && IsPrefixOf(slot, avail, kMpkId)))
          return Verdict::kUnsafe;
        continue;
      }
      const uint32_t id = Fixed32(slot);
      if (user_data_allowed && id == kUserDataId) {
        if (avail < 16) return Verdict::kUnsafe;
        const uint32_t block_size = Fixed32(slot + 4);
        const uint32_t header_offset = Fixed32(slot + 8);
        const uint32_t header_size = Fixed32(slot + 12);
        if (header_size <= block_size && block_size <= header_offset &&
            slot_pos + 0x20 + header_offset < file_size) {
          user_data_seen = true;
          offset = slot_pos + header_offset;
          redirected = true;
          break;
        }
        continue;
      }
      if (id == kMpqId) {
        if (avail < 8) return Verdict::kUnsafe;
        if (Fixed32(slot + 4) < 0x20) continue;
        unsigned char raw[kHeaderBytes] = {};
        const uint64_t copy = std::min<uint64_t>(avail, kHeaderBytes);
        std::copy(slot, slot + copy, raw);
        if (copy < 0x20 || copy < HeaderBytesUsed(raw, map_file))
          return Verdict::kUnsafe;
        return CheckArchive(file, raw, slot_pos, map_file);
      }
      if (id == kMpkId && !map_file) return Verdict::kUnsafe;
    }
    if (!redirected)
      offset += (static_cast<uint64_t>(bytes) + kSearchStep - 1) / kSearchStep *
                kSearchStep;
  }
  return Verdict::kSafe;
}

// What the library reports of an opened table file and of its archive.
struct TableEntry {
  uint32_t flags = 0;
  uint32_t size = 0;
  uint32_t stored = 0;
  uint32_t key = 0;
  uint32_t sector_size = 0;
  uint64_t offset = 0;   // of the stored bytes, from the start of the file
  bool version1 = true;  // decompressed by the version 1 path
};

template <typename T>
bool Info(void* handle, SFileInfoClass what, T* value) {
  return SFileGetFileInfo(handle, what, value, sizeof *value, nullptr);
}

bool QueryEntry(void* archive, void* file, bool map_file, TableEntry* e) {
  DWORD flags = 0, size = 0, stored = 0, key = 0, sector_size = 0;
  ULONGLONG byte_offset = 0, header_offset = 0;
  TMPQHeader header;
  if (!Info(file, SFileInfoFlags, &flags) ||
      !Info(file, SFileInfoFileSize, &size) ||
      !Info(file, SFileInfoCompressedSize, &stored) ||
      !Info(file, SFileInfoEncryptionKey, &key) ||
      !Info(file, SFileInfoByteOffset, &byte_offset) ||
      !Info(archive, SFileMpqSectorSize, &sector_size) ||
      !Info(archive, SFileMpqHeaderOffset, &header_offset) ||
      !SFileGetFileInfo(archive, SFileMpqHeader, &header, sizeof header,
                        nullptr)) {
    return false;
  }
  e->flags = flags;
  e->size = size;
  e->stored = stored;
  e->key = key;
  e->sector_size = sector_size;
  // The header as stored; the library converts it as ConvertHeader above
  // does, and takes the version 1 path for a header it reads as version 1:
  // version 0, version 1 of another size, any version past 3, and every
  // header of a map file (which it reads as version 1 whatever it says).
  const uint16_t version = header.wFormatVersion;
  e->version1 = version == 0 || version > 3 ||
                (version == 1 && header.dwHeaderSize != 0x2C) || map_file;
  // Version 1 positions wrap at 4 GiB.
  e->offset = header_offset + byte_offset;
  if (e->version1) e->offset = static_cast<uint32_t>(e->offset);
  return true;
}

constexpr unsigned kHuffman = 0x01;
constexpr unsigned kBzip2 = 0x10;
constexpr unsigned kLzma = 0x12;
constexpr unsigned kSparse = 0x20;

// What a sector's compression byte makes the library do with the sector.
enum class Unpack { kSafe, kUnsafe, kBzip2First };

// The sparse decoder copies each chunk its marker announces without
// looking for the end of its input: it reads past its buffer, and the
// bytes it finds there become the table's. Behind zlib or bzip2 only
// unpacking the first step could tell; sparse storage is refused whole.
//
// The Huffman decoder writes out of its tree's bounds on damaged input
// (seen under the address sanitizer); only audio is stored that way.

// The version 1 path (SCompDecompress) treats the byte as a set of
// methods and applies them in a fixed order, bzip2 first.
Unpack UnpackVersion1(unsigned mask) {
  // It asserts that the byte is not the one of LZMA, which it has no
  // decoder for: the process aborts.
  if (mask == kLzma) return Unpack::kUnsafe;
  if ((mask & (kHuffman | kSparse)) != 0) return Unpack::kUnsafe;
  if ((mask & kBzip2) != 0) return Unpack::kBzip2First;
  return Unpack::kSafe;
}

// The version 2 path (SCompDecompress2) knows a fixed list of bytes and
// fails on any other; Huffman comes only before ADPCM there.
Unpack UnpackVersion2(unsigned mask) {
  if (mask == kLzma) return Unpack::kSafe;
  if ((mask & (kHuffman | kSparse)) != 0) return Unpack::kUnsafe;
  if (mask == kBzip2) return Unpack::kBzip2First;
  return Unpack::kSafe;
}

// The library's bzip2 step calls the decoder until the stream ends or
// fails: where the input or the output runs out first, the decoder makes
// no more progress and the call never returns. Decoding the sector the
// same way tells which of the two comes first.
bool Bzip2StreamEnds(const unsigned char* in, uint32_t in_size,
                     uint32_t out_size) {
#if SELVANE_HAVE_BZIP2
  bz_stream strm;
  std::memset(&strm, 0, sizeof strm);
  if (BZ2_bzDecompressInit(&strm, 0, 0) != BZ_OK) return false;
  // The output goes through a small buffer; only its count matters.
  std::array<char, 0x10000> out;
  uint32_t room = out_size;
  strm.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
  strm.avail_in = in_size;
  bool ends = false;
  for (;;) {
    const auto chunk = static_cast<unsigned>(
        std::min<uint32_t>(room, static_cast<uint32_t>(out.size())));
    strm.next_out = out.data();
    strm.avail_out = chunk;
    const unsigned before_in = strm.avail_in;
    const int rc = BZ2_bzDecompress(&strm);
    room -= chunk - strm.avail_out;
    // An error fails the library's read: safe.
    if (rc == BZ_STREAM_END || rc < BZ_OK) {
      ends = true;
      break;
    }
    // No progress: the input or the whole output is used up.
    if (strm.avail_in == before_in && strm.avail_out == chunk) break;
  }
  BZ2_bzDecompressEnd(&strm);
  return ends;
#else
  // Without the decoder at hand no bzip2 sector can be judged.
  (void)in;
  (void)in_size;
  (void)out_size;
  return false;
#endif
}

// Whether the library may unpack `stored` bytes at pos (sector `index`)
// into `bytes` bytes.
bool SectorUnpacksSafely(CArchiveGuardFile* in, const TableEntry& e,
                         uint64_t pos, uint32_t stored, uint32_t bytes,
                         uint32_t index, bool version1) {
  unsigned char head[4];
  const uint32_t n = std::min<uint32_t>(stored, 4);
  if (!in->Read(pos, n, head)) return false;
  const bool encrypted = (e.flags & MPQ_FILE_ENCRYPTED) != 0;
  unsigned mask = head[0];
  // The library decrypts whole dwords only: a sector under 4 bytes stays
  // as stored.
  if (encrypted && n == 4) {
    uint32_t word = Fixed32(head);
    DecryptWords(&word, 1, e.key + index);
    mask = word & 0xFF;
  }
  const Unpack unpack = version1 ? UnpackVersion1(mask) : UnpackVersion2(mask);
  if (unpack != Unpack::kBzip2First) return unpack == Unpack::kSafe;
  // Past the archive's end the library's read fails first.
  if (pos > in->size() || stored > in->size() - pos) return false;
  std::vector<unsigned char> data(stored);
  if (!in->Read(pos, stored, data.data())) return false;
  if (encrypted) {
    std::vector<uint32_t> words(stored / 4);
    for (std::size_t i = 0; i < words.size(); ++i)
      words[i] = Fixed32(data.data() + 4 * i);
    DecryptWords(words.data(), static_cast<uint32_t>(words.size()),
                 e.key + index);
    for (std::size_t i = 0; i < words.size(); ++i)
      for (std::size_t b = 0; b < 4; ++b)
        data[4 * i + b] = static_cast<unsigned char>(words[i] >> (8 * b));
  }
  return Bzip2StreamEnds(data.data() + 1, stored - 1, bytes);
}

// A compressed classic table: its stored bytes are decrypted whole with
// the table's key, then unpacked by their first byte.
bool ClassicTableUnpacksSafely(CArchiveGuardFile* file, uint64_t pos,
                               uint32_t stored, uint32_t size, uint32_t key) {
  // With nothing stored, the byte is read from past an empty buffer.
  if (stored == 0) return false;
  TableEntry e;
  e.flags = MPQ_FILE_ENCRYPTED;
  e.key = key;
  return SectorUnpacksSafely(file, e, pos, stored, size, 0, false);
}

// A file stored whole: read with one read of its stored size.
bool WholeFileIsSafe(CArchiveGuardFile* in, const TableEntry& e) {
  if ((e.flags & MPQ_FILE_COMPRESS_MASK) == 0) {
    // Uncompressed, the stored size is read into a buffer of the file's
    // size: a larger one overruns it, a smaller one leaves its end
    // uninitialised yet reads as a success.
    return e.stored == e.size;
  }
  // Compressed and smaller than the file, the stored bytes are unpacked
  // through the archive version's decompression path by their first byte.
  if (e.stored == 0 || e.stored >= e.size || (e.flags & MPQ_FILE_COMPRESS) == 0)
    return true;
  return SectorUnpacksSafely(in, e, e.offset, e.stored, e.size, 0, e.version1);
}

// Extra bytes the library accepts after a sector offset table.
constexpr uint32_t kSectorTableSlack = 0x400;

// The sector checksum block: loaded like an archive table, `stored` bytes
// read into a buffer of one dword per sector and unpacked by the version 2
// path when smaller.
bool ChecksumBlockIsSafe(CArchiveGuardFile* in, const TableEntry& e,
                         const std::vector<uint32_t>& offsets, uint64_t count,
                         uint64_t table_bytes) {
  // The library looks for the block only behind a table of exactly one
  // extra dword, and uses it only with a length from 4 bytes to a sector.
  if (offsets[0] != table_bytes || offsets[count + 1] < offsets[count])
    return true;
  const uint32_t length = offsets[count + 1] - offsets[count];
  if (length < 4 || length > e.sector_size) return true;
  // Longer than the dword per sector it is read into: the read overruns.
  if (length > count * 4) return false;
  // Outside the stored file, or past the archive's end, where the version
  // 1 loader's size arithmetic wraps around.
  if (offsets[count + 1] > e.stored) return false;
  const uint64_t pos = e.offset + offsets[count];
  if (pos + length > in->size()) return false;
  if (length == count * 4) return true;
  TableEntry plain = e;
  plain.flags &= ~static_cast<uint32_t>(MPQ_FILE_ENCRYPTED);
  return SectorUnpacksSafely(in, plain, pos, length, count * 4, 0, false);
}

// A file stored in sectors behind a sector offset table: one dword per
// sector and one for the end (and one more with sector checksums), each an
// offset from the start of the stored file.
bool SectorFileIsSafe(CArchiveGuardFile* in, const TableEntry& e) {
  // Uncompressed sectors are read in place at their position in the file.
  if ((e.flags & MPQ_FILE_COMPRESS_MASK) == 0 || e.size == 0) return true;
  if (e.sector_size == 0) return false;
  const uint64_t count = (uint64_t{e.size} - 1) / e.sector_size + 1;
  uint64_t table_bytes = (count + 1) * 4;
  if ((e.flags & MPQ_FILE_SECTOR_CRC) != 0) table_bytes += 4;
  // A table that does not fit in the stored file is damaged; and reading
  // it is bounded by the stored size.
  if (table_bytes > e.stored) return false;
  const bool encrypted = (e.flags & MPQ_FILE_ENCRYPTED) != 0;
  // Without a key the library guesses one from the table's contents.
  if (encrypted && e.key == 0) return false;
  if (e.offset > in->size() || table_bytes > in->size() - e.offset)
    return false;
  std::vector<unsigned char> raw(static_cast<std::size_t>(table_bytes));
  if (!in->Read(e.offset, static_cast<uint32_t>(table_bytes), raw.data()))
    return false;
  std::vector<uint32_t> offsets(raw.size() / 4);
  for (std::size_t i = 0; i < offsets.size(); ++i)
    offsets[i] = Fixed32(raw.data() + 4 * i);
  if (encrypted)
    DecryptWords(offsets.data(), static_cast<uint32_t>(offsets.size()),
                 e.key - 1);
  // A first entry above the table's length names a longer table, up to
  // 1 KiB longer, which is read again at that length into a buffer of
  // whole dwords: a length that is no multiple of 4 overruns it.
  const uint32_t length = offsets[0];
  if (length > table_bytes && length <= table_bytes + kSectorTableSlack &&
      length % 4 != 0)
    return false;
  // Offsets must increase, by at most a sector each (the library refuses
  // others itself), and end inside the stored file: past it, a sector
  // would be read from other files' bytes or past the archive's end.
  for (uint64_t i = 0; i < count; ++i) {
    if (offsets[i + 1] <= offsets[i] ||
        offsets[i + 1] - offsets[i] > e.sector_size)
      return false;
  }
  if (offsets[count] > e.stored) return false;
  if ((e.flags & MPQ_FILE_SECTOR_CRC) != 0 &&
      !ChecksumBlockIsSafe(in, e, offsets, count, table_bytes))
    return false;
  if ((e.flags & MPQ_FILE_COMPRESS) == 0) return true;
  // A sector stored smaller than its bytes is unpacked by its first byte.
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t stored = offsets[i + 1] - offsets[i];
    const uint64_t bytes =
        std::min<uint64_t>(e.sector_size, e.size - i * e.sector_size);
    if (stored >= bytes) continue;
    if (!SectorUnpacksSafely(in, e, e.offset + offsets[i], stored,
                             static_cast<uint32_t>(bytes),
                             static_cast<uint32_t>(i), e.version1))
      return false;
  }
  return true;
}

}  // namespace

const unsigned char* CArchiveGuardFile::Bytes(uint64_t pos, uint32_t n) {
  if (!ok()) return nullptr;
  const uint64_t size = file_.size();
  if (pos > size || n > size - pos || n > kWindow) return nullptr;
  if (pos < window_pos_ || pos + n > window_pos_ + window_size_) {
    if (!window_) window_.reset(new (std::nothrow) unsigned char[kWindow]);
    if (!window_) return nullptr;
    window_size_ =
        static_cast<uint32_t>(std::min<uint64_t>(kWindow, size - pos));
    window_pos_ = pos;
    if (file_.ReadAt(pos, window_size_,
                     reinterpret_cast<char*>(window_.get())) != window_size_) {
      window_size_ = 0;
      return nullptr;
    }
  }
  return window_.get() + (pos - window_pos_);
}

bool CArchiveGuardFile::Read(uint64_t pos, uint32_t n, unsigned char* dst) {
  if (n > kWindow) {
    const uint64_t size = this->size();
    return pos <= size && n <= size - pos &&
           file_.ReadAt(pos, n, reinterpret_cast<char*>(dst)) == n;
  }
  const unsigned char* p = Bytes(pos, n);
  if (p == nullptr) return false;
  std::memcpy(dst, p, n);
  return true;
}

bool ArchiveIsSafeToOpen(CArchiveGuardFile* file) {
  if (!file->ok()) return true;
  return SearchHeader(file) != Verdict::kUnsafe;
}

bool ArchiveIsSafeToOpen(const std::string& path) {
  CArchiveGuardFile file(path);
  return ArchiveIsSafeToOpen(&file);
}

bool TableIsSafeToRead(CArchiveGuardFile* in, void* archive, void* file) {
  DWORD flags = 0;
  if (!Info(file, SFileInfoFlags, &flags)) return false;
  // Uncompressed sectors are read in place at their position in the file:
  // nothing the library trusts needs a look.
  if ((flags & (MPQ_FILE_COMPRESS_MASK | MPQ_FILE_SINGLE_UNIT |
                MPQ_FILE_PATCH_FILE)) == 0)
    return true;
  unsigned char start[8];
  const bool map_file = in->Read(0, sizeof start, start) &&
                        Fixed32(start) == kMapFileId && Fixed32(start + 4) == 0;
  TableEntry e;
  if (!QueryEntry(archive, file, map_file, &e)) return false;
  // A patch file's buffer is sized from its patch header, which the
  // library does not report; a patch reads as a failure anyway.
  if ((e.flags & MPQ_FILE_PATCH_FILE) != 0) return false;
  if ((e.flags & MPQ_FILE_SINGLE_UNIT) != 0) return WholeFileIsSafe(in, e);
  return SectorFileIsSafe(in, e);
}

bool TableIsSafeToRead(const std::string& archive_path, void* archive,
                       void* file) {
  CArchiveGuardFile in(archive_path);
  return TableIsSafeToRead(&in, archive, file);
}
