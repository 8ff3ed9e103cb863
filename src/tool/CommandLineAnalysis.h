#pragma once

#include <QString>

// The command-line analysis, from the whole command line to the exit code:
// -1 when it does not parse or a model check failed, -2 when the picture does not exist,
// otherwise what runAnalysis answers. Echoes the parsed tokens on standard output.
int runCommandLine(const QString &commandLine);

// The picture path: the text after "=" in the first double-quote-delimited piece of the
// command line that begins with "--pathname"; empty without one.
QString pathFromCommandLine(const QString &commandLine);
