#ifndef SELVANE_SELVANELIBRARY_H_
#define SELVANE_SELVANELIBRARY_H_

// What a host includes: the query object, the table snapshot and the query
// parameter record.
#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/SelvaneObject.h>
#include <SelvaneLibrary/SelvaneTable.h>

#endif  // SELVANE_SELVANELIBRARY_H_
