// picsage-analyse: the analysis tool over many pictures, one JSON line per picture and
// method, in worker processes. See batchUsage() and the README's "Analysing a whole photo
// library".

#include "BatchOptions.h"
#include "BatchWorker.h"
#include "Coordinator.h"
#include "PictureList.h"
#include "ResultLines.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
enum ExitCode { AllAnalysed = 0, Usage = 1, SomeFailed = 2, OutputTrouble = 3 };

// Opens FILE for appending after reading the lines it already holds; an unfinished last
// line (a run killed mid-write) is cut off first. -1 when it cannot be read or written.
int openOutput(const QByteArray &name, QByteArray *existing)
{
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        existing->append(buffer, int(n));
    if (n < 0) {
        ::close(fd);
        return -1;
    }
    if (!existing->isEmpty() && !existing->endsWith('\n')) {
        existing->truncate(existing->lastIndexOf('\n') + 1);
        if (::ftruncate(fd, existing->size()) != 0) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}
} // namespace

int main(int argc, char **argv)
{
    BatchOptions options;
    QString error;
    if (argc == 2 && (qstrcmp(argv[1], "--help") == 0 || qstrcmp(argv[1], "-h") == 0)) {
        std::fputs(qPrintable(batchUsage()), stdout);
        return AllAnalysed;
    }
    if (!options.parse(argc, argv, &error)) {
        std::fprintf(stderr, "picsage-analyse: %s\n%s", qPrintable(error),
                     qPrintable(batchUsage()));
        return Usage;
    }
    if (options.worker) return runWorker(options, argc, argv);

    // A closed output or worker pipe is an error to report, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    QByteArray existing;
    int outputFd = STDOUT_FILENO;
    if (!options.output.isEmpty()) {
        outputFd = openOutput(options.output, &existing);
        if (outputFd < 0) {
            std::fprintf(stderr, "picsage-analyse: cannot read and write %s\n",
                         options.output.constData());
            return OutputTrouble;
        }
    }
    const QSet<QByteArray> done = pathsInLines(existing);

    QFile input;
    input.open(stdin, QIODevice::ReadOnly);
    QList<QByteArray> pictures;
    for (const QByteArray &path : collectPictures(options.paths, &input)) {
        if (options.shardCount > 0 && !inShard(path, options.shardIndex, options.shardCount))
            continue;
        if (!done.contains(jsonPathLiteral(path))) pictures << path;
    }

    Coordinator coordinator(options, outputFd);
    const bool written = coordinator.run(pictures);
    if (outputFd != STDOUT_FILENO && ::close(outputFd) != 0) return OutputTrouble;
    if (!written) {
        std::fprintf(stderr, "picsage-analyse: cannot write the output\n");
        return OutputTrouble;
    }
    return coordinator.anyFailed() ? SomeFailed : AllAnalysed;
}
