#ifndef SELVANE_QUERY_PATHUTIL_H_
#define SELVANE_QUERY_PATHUTIL_H_

#include <string>

// Narrows a wide string character by character: same length, each
// character's low 8 bits. No code-page conversion and no failure.
std::string WideToNarrow(const std::wstring& wide);

// Like WideToNarrow, but refuses a string holding any character above 0xFF,
// which would otherwise be cut, or a NUL, which would end the path early:
// either way it would name another file. On false, *narrow is left
// unchanged.
bool NarrowExact(const std::wstring& wide, std::string* narrow);

// Everything after the first backslash, or the whole path when it has none.
// The rule for table paths inside an archive, on every platform.
std::string AfterFirstBackslash(const std::string& path);

// Everything after the last directory separator, or the whole path when it
// has none. On Windows only the backslash separates; elsewhere the platform's
// '/' separates too, whichever comes later.
std::string AfterLastSeparator(const std::string& path);

#endif  // SELVANE_QUERY_PATHUTIL_H_
