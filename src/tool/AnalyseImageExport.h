#pragma once

#include "picsage_global.h"

#include <cstdint>

// Analyses one picture in the caller's process, which must already run a Qt application
// object. `path` and `methods` (comma-separated method names) are zero-terminated UTF-16;
// a non-zero low byte of `autoFlag` runs docsorter_pc after a document category.
// Returns the last method's code, -1 when a method failed or none was valid, -3 when the
// picture does not decode.
PICSAGE_C_EXPORT int32_t AnalyseImage(const char16_t *path, const char16_t *methods,
                                      uint32_t autoFlag);
