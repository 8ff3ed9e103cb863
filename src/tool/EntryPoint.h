#pragma once

#include "picsage_global.h"

#include <cstdint>

// The command-line analysis tool. Reads only `commandLine` (zero-terminated UTF-16, every
// argument in double quotes as the launcher writes it), runs it and ends the process
// through exit() with -1 (bad command line or failed model check), -2 (no such picture)
// or the analysis code. Never returns.
PICSAGE_C_EXPORT void EntryPoint(void *window, void *instance, const char16_t *commandLine,
                                 int show);

// The process's own argument vector for the application object EntryPoint creates; both
// must stay alive for the life of the process. Without it the vector is read from
// /proc/self/cmdline.
PICSAGE_C_EXPORT void SetEntryPointArguments(int *argc, char **argv);
