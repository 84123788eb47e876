#ifndef SELVANE_EXPORT_H_
#define SELVANE_EXPORT_H_

// SELVANE_API marks what the shared library exports: CSelvaneObject alone.
#if defined(_WIN32)
#if defined(SELVANE_BUILDING_LIBRARY)
#define SELVANE_API __declspec(dllexport)
#else
#define SELVANE_API __declspec(dllimport)
#endif
#else
#define SELVANE_API __attribute__((visibility("default")))
#endif

#endif  // SELVANE_EXPORT_H_
