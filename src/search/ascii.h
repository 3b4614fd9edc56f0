// Case folding moved to base/ascii.h; this name stays for the files that still include it here.
#ifndef QZ_SEARCH_ASCII_H_
#define QZ_SEARCH_ASCII_H_

#include "base/ascii.h"

#endif  // QZ_SEARCH_ASCII_H_
