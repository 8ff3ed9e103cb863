#include "EntryPoint.h"

#include "CommandLineAnalysis.h"
#include "app/PhotoApplication.h"

#include <QFile>

#include <cstdlib>
#include <vector>

namespace {
int *s_argc = nullptr;
char **s_argv = nullptr;

// The kernel's copy of the argument vector, kept for the life of the process.
void argumentsFromProcess()
{
    static QByteArray storage;
    static std::vector<char *> pointers;
    static int count = 0;
    QFile file(QStringLiteral("/proc/self/cmdline"));
    if (file.open(QIODevice::ReadOnly)) storage = file.readAll();
    for (int start = 0; start < storage.size();) {
        pointers.push_back(storage.data() + start);
        start += int(qstrlen(storage.constData() + start)) + 1;
    }
    if (pointers.empty()) {
        storage = QByteArrayLiteral("picsage");
        pointers.push_back(storage.data());
    }
    count = int(pointers.size());
    pointers.push_back(nullptr);
    s_argc = &count;
    s_argv = pointers.data();
}
} // namespace

void SetEntryPointArguments(int *argc, char **argv)
{
    s_argc = argc;
    s_argv = argv;
}

void EntryPoint(void *window, void *instance, const char16_t *commandLine, int show)
{
    Q_UNUSED(window);
    Q_UNUSED(instance);
    Q_UNUSED(show);
    if (!s_argc || !s_argv) argumentsFromProcess();
    // The tool's only output is the token echo; the stored records say the rest.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // Never destroyed: the process ends through exit(), which leaves it on the stack.
    PhotoApplication app(*s_argc, s_argv);
    std::exit(runCommandLine(commandLine ? QString::fromUtf16(commandLine) : QString()));
}
