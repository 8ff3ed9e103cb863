#pragma once

#include <QString>

// The absolute folder of the file that holds this library's code (libpicsage.so, or the
// program that links the library's objects directly). Model files, language resources and
// the recognition module are found relative to it. Computed once per process.
QString moduleDirectory();
