#pragma once

#include <QtGlobal>

// Symbols are hidden by default; what hosts may use is marked with PICSAGE_EXPORT. The
// library's own code is compiled with PICSAGE_BUILDING and exports what is marked; every
// other program sees the same marks as imports. (On ELF both mean default visibility, so
// programs that carry a copy of library code, like the PSD plug-in module, limit their
// exports at link time.)
#if defined(PICSAGE_BUILDING)
#define PICSAGE_EXPORT Q_DECL_EXPORT
#define PICSAGE_C_EXPORT extern "C" Q_DECL_EXPORT
#else
#define PICSAGE_EXPORT Q_DECL_IMPORT
#define PICSAGE_C_EXPORT extern "C" Q_DECL_IMPORT
#endif
