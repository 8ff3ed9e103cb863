// picsage-image COMMAND [ARGS...]: the picture library on the command line. See
// `picsage-image --help` and ImageTool.h.

#include "ImageTool.h"

#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The library and Qt's readers speak through Qt's message handler (a broken JPEG, say);
// the tool's own messages are the only ones on standard error.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(imagetool::messageStream(), "picsage-image: %s\n", qPrintable(message));
        std::abort();
    }
}

QString overview()
{
    QString text = QStringLiteral("Usage: picsage-image COMMAND [ARGS...]\n\n"
                                  "Reads, describes and paints pictures as the photo viewer "
                                  "does.\n\nCommands:\n");
    for (const imagetool::Command &command : imagetool::commands()) {
        text += QStringLiteral("  %1 %2\n      %3\n")
                    .arg(QString::fromLatin1(command.name), QString::fromLatin1(command.synopsis),
                         QString::fromLatin1(command.summary));
    }
    text += QStringLiteral(
        "\n'picsage-image COMMAND --help' describes a command.\n\nExit codes: 0 success, 1 "
        "usage error, 2 an input cannot be read, 3 an output cannot be written.\n");
    return text;
}

// The decoders below Qt (libpng, libtiff) report broken files on standard error by
// themselves. The tool's messages go to its own copy of standard error, and the libraries'
// to nowhere. Sanitizer builds keep standard error: their reports must be seen.
void keepLibrariesQuiet()
{
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const int own = ::dup(STDERR_FILENO);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (own < 0 || nowhere < 0) return;
    ::fcntl(own, F_SETFD, FD_CLOEXEC);
    std::FILE *stream = ::fdopen(own, "w");
    if (!stream) return;
    std::fflush(stderr);
    ::dup2(nowhere, STDERR_FILENO);
    ::close(nowhere);
    imagetool::setMessageStream(stream);
#endif
}

void print(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // No display is needed or used.
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(quietMessages);
    keepLibrariesQuiet();
    QGuiApplication app(argc, argv);
    // The tool is staged beside the plug-in modules of its own library. The library already
    // registers those readers, so loading the modules too would bring a second copy of each.
    QCoreApplication::removeLibraryPath(QCoreApplication::applicationDirPath());

    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return imagetool::usageError({}, QStringLiteral("no COMMAND given"));
    const QString name = args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        print(overview());
        return imagetool::ExitOk;
    }
    for (const imagetool::Command &command : imagetool::commands()) {
        if (name != QLatin1String(command.name)) continue;
        if (imagetool::isHelp(args)) {
            print(imagetool::commandHelp(command));
            return imagetool::ExitOk;
        }
        return command.run(args);
    }
    return imagetool::usageError({}, QStringLiteral("unknown command '%1'").arg(name));
}
