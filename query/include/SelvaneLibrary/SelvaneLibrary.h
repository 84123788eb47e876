#ifndef SELVANE_SELVANELIBRARY_H_
#define SELVANE_SELVANELIBRARY_H_

// What a host includes: the query object and the query parameter record.
#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/SelvaneObject.h>

#endif  // SELVANE_SELVANELIBRARY_H_
