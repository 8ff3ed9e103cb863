#pragma once

#include "picsage_global.h"

#include <cstdint>

// The command-line analysis tool. Reads only `commandLine` (zero-terminated UTF-16, every
// argument in double quotes as the launcher writes it; a double quote inside an argument,
// and a byte of a file name that is not text, as U+DC00 + the byte), runs it and ends the
// process through exit() with -1 (bad command line, failed model check or failed method),
// -2 (no such picture), -3 (the picture does not decode) or the analysis code. The
// process status keeps the low 8 bits of that code. Never returns.
PICSAGE_C_EXPORT void EntryPoint(void *window, void *instance, const char16_t *commandLine,
                                 int show);

// The process's own argument vector for the application object EntryPoint creates; both
// must stay alive for the life of the process. Without it the vector is read from
// /proc/self/cmdline.
PICSAGE_C_EXPORT void SetEntryPointArguments(int *argc, char **argv);
