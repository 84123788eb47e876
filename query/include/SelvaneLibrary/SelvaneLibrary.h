#ifndef SELVANE_SELVANELIBRARY_H_
#define SELVANE_SELVANELIBRARY_H_

// What a host includes: the query object and the query parameter record.
#include "DBParam.h"
#include "SelvaneObject.h"

#endif  // SELVANE_SELVANELIBRARY_H_
