#pragma once

// Symbols are hidden by default; what hosts may use is marked with PICSAGE_EXPORT.
#define PICSAGE_EXPORT __attribute__((visibility("default")))
#define PICSAGE_C_EXPORT extern "C" __attribute__((visibility("default")))
