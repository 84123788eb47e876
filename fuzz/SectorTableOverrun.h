#ifndef SELVANE_FUZZ_SECTORTABLEOVERRUN_H_
#define SELVANE_FUZZ_SECTORTABLEOVERRUN_H_

#include <cstddef>
#include <cstdint>
#include <string>

// A known fault of the archive library (StormLib 9.22) in a file's
// contents, which no look at the archive header can foresee: the first
// entry of a compressed file's sector offset table gives the table's length
// in bytes, and a length above the (sectors + 1) * 4 bytes it expects, up
// to 1024 more, that is not a multiple of 4 makes its first read of the
// file write 1 to 3 bytes past the buffer it allocated for the table.
//
// Matches() tells whether the table at tablePath of the archive at path
// (whose bytes are data) is such a file. It answers only for the shape it
// was worked out on: archive header at offset 0, the file compressed in
// sectors, neither encrypted nor with sector checksums. Every other file is
// reported as not matching.
class SectorTableOverrun {
 public:
  static bool Matches(const std::string& path, const char* tablePath,
                      const std::uint8_t* data, std::size_t size);
};

#endif  // SELVANE_FUZZ_SECTORTABLEOVERRUN_H_
