#ifndef SELVANE_FUZZ_DAMAGEDSTREAMWATCH_H_
#define SELVANE_FUZZ_DAMAGEDSTREAMWATCH_H_

// The archive library (StormLib 9.22) accepts a zlib-compressed sector that
// unpacks to fewer bytes than the sector holds (a damaged stream, or one
// cut short): the read reports success and hands out the rest of the sector
// from a buffer that was never filled, so the bytes, and the answers read
// from them, change from one read to the next. Its own unpackers do the
// same with an imploded table whose data gives out early. Linking this file
// puts a watch on the library's calls into zlib's inflate and into its own
// unpackers; Count() tells how many such short sectors it has unpacked so
// far in this process.
class DamagedStreamWatch {
 public:
  static unsigned long Count();
};

#endif  // SELVANE_FUZZ_DAMAGEDSTREAMWATCH_H_
