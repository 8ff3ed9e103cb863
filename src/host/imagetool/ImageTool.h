#pragma once

// picsage-image: the picture library's command-line face, built on the library's exported
// classes only (ImageDirectory, ImageWrapper, ImageFormats), as a host would use them.
//
// Every command is a file of its own with one entry function; Commands.cpp lists them.

#include <QSharedPointer>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdio>

class ImageWrapper;

namespace imagetool {

enum ExitCode : int {
    ExitOk = 0,
    ExitUsage = 1,  // the command line is wrong
    ExitInput = 2,  // an input cannot be read
    ExitOutput = 3, // an output cannot be written (nothing half-written is left)
};

struct Command
{
    const char *name;
    const char *synopsis; // arguments, shown after the command's name
    const char *summary;  // one line for the command list
    const char *help;     // what --help after the command adds
    int (*run)(const QStringList &args);
};

// Every command, in the order the help lists them.
const QVector<Command> &commands();

// Where the tool's own messages go: standard error, or what stands for it once the
// libraries' chatter has been sent elsewhere (main.cpp).
std::FILE *messageStream();
void setMessageStream(std::FILE *stream);

// "picsage-image: SUBJECT: reason" on standard error.
void reportError(const QString &subject, const QString &reason);
// A usage error: the message and a pointer to --help; returns ExitUsage.
int usageError(const QString &command, const QString &message);
// The command's own help text.
QString commandHelp(const Command &command);
bool isHelp(const QStringList &args);

// What the reader of a raw file states without decoding anything: the picture's size
// (invalid when the file is not a raw file the reader knows), the camera and the EXIF
// orientation.
struct RawFacts
{
    QSize size;
    QString camera;
    int orientation = 1;
};
RawFacts rawFacts(const QString &path);

// Opens and loads the picture at `path` through its folder, as the viewer does. Null, with
// the reason, when it cannot be read or decoded; then, for a raw file, what its reader states
// goes to `raw` when given.
// With a valid `decodeBox` the picture is decoded for that box (ImageWrapper::setDecodeBox).
QSharedPointer<ImageWrapper> openPicture(const QString &path, QString *reason,
                                         RawFacts *raw = nullptr, const QSize &decodeBox = QSize());

// A JSON string literal (quoted and escaped).
QString jsonString(const QString &text);

// The command functions.
int runInfo(const QStringList &args);
int runRender(const QStringList &args);
int runList(const QStringList &args);
int runFrames(const QStringList &args);
int runRotate(const QStringList &args);
int runFlip(const QStringList &args);
int runCrop(const QStringList &args);
int runResize(const QStringList &args);
int runConvert(const QStringList &args);
int runExport(const QStringList &args);
int runThumbnails(const QStringList &args);

} // namespace imagetool
