#pragma once

#include <QString>

// The command-line analysis, from the whole command line to the exit code:
// -1 when it does not parse or a model check failed, -2 when the picture does not exist,
// otherwise what runAnalysis answers (-3 when the picture does not decode). Echoes the
// tokens of the whole line on standard output; the option parser never sees the path.
int runCommandLine(const QString &commandLine);

// Where the picture path stands in a command line. The line is cut at every double quote
// into pieces; the first piece that begins with "--pathname" names the path: the text
// after its first "=", or, when the piece is exactly "--pathname", the next quoted piece
// (`"--pathname" "PATH"`, as the launcher writes `--pathname PATH`). `rest` is the line
// with the pieces that gave the path emptied: what the option parser reads.
struct CommandLinePath
{
    QString path;
    QString rest;
};
CommandLinePath splitPathFromCommandLine(const QString &commandLine);

// splitPathFromCommandLine(commandLine).path
QString pathFromCommandLine(const QString &commandLine);
