#include "DisplayChoice.h"

#include <QGuiApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// A display server that answers at all answers within this time.
constexpr unsigned ProbeSeconds = 10;

bool isSet(const char *name)
{
    return std::getenv(name) != nullptr;
}

[[noreturn]] void probeChild(int argc, char **argv, unsigned seconds)
{
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
    }
    ::alarm(seconds); // a server that accepts and never answers ends the child too
    // Qt reports a platform that cannot start with a fatal message, then aborts: leave
    // before the abort.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
        if (type == QtFatalMsg) ::_exit(1);
    });
    int count = argc;
    QGuiApplication probe(count, argv);
    ::_exit(0);
}
} // namespace

bool platformStarts(int argc, char **argv, unsigned seconds)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) probeChild(argc, argv, seconds);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void chooseDisplayPlatform(int argc, char **argv)
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::strcmp(platform, "offscreen") == 0) return;
    const bool named = platform || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
    if (!named || !platformStarts(argc, argv, ProbeSeconds))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}
