#ifndef SELVANE_READERS_ARCHIVEGUARD_H_
#define SELVANE_READERS_ARCHIVEGUARD_H_

#include <string>

// Decides, from the archive file's header and table headers alone, whether
// the archive library (StormLib 9.22) may be asked to open it. Some damaged
// archives make that library divide by zero, fail an assertion, overrun a
// buffer or work for minutes inside its open call; for those this returns
// false and the caller must not open the file. Every other file returns
// true, also the ones the library merely refuses with an error, so a caller
// still sees those failures through the library as before.
//
// The file is located and read the way the library reads it when opened
// without the "force version 1" and "no header search" flags. No file
// contents are read for the caller: only the header, its optional user-data
// block and the fixed-size headers of the extended tables.
bool ArchiveIsSafeToOpen(const std::string& path);

// Decides, from what the archive library reports of an opened file (a
// library file handle), whether reading it is safe. The library reads a
// file stored whole and uncompressed with one read of its stored size into
// a buffer of its size: a damaged entry whose stored size is larger
// overruns that buffer, and a smaller one leaves the buffer's end
// uninitialised yet reads as a success. A patch file's buffer is sized from
// its patch header, which the library does not report; such a file holds a
// patch and reads fail on it, so it is refused whole. False also when the
// library reports nothing.
bool TableIsSafeToRead(void* file);

#endif  // SELVANE_READERS_ARCHIVEGUARD_H_
