// The whole picsage process against vipsthumbnail, both fitting a large JPEG into 320x320:
// wall time and peak memory of each process, measured here in one run. Also the tool's
// start-up alone (application object, style, translator; no picture to decode), and the
// category method on a 9999x9999 JPEG, which it reads at full size: its peak against the
// decoded picture's own size.
//
//   bench-cli [FOLDER]   FOLDER keeps the generated pictures (default: a temporary one)

#include "BenchPictures.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
struct Run
{
    double ms = -1;
    long peakKiB = -1;
    int code = -1;
};

Run runProcess(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) return run;
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    run.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.code = WIFEXITED(status) ? qint8(WEXITSTATUS(status)) : -1000;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// The picture made in a child process: a process's peak size passes on to the processes it
// starts, so this one must never hold a large picture.
std::string pictureInChild(const QString &folder, const QSize &size)
{
    const QString path =
        QStringLiteral("%1/bench-%2x%3.jpg").arg(folder).arg(size.width()).arg(size.height());
    const pid_t child = ::fork();
    if (child == 0) ::_exit(benchJpeg(folder, size) == path ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return path.toStdString();
}

// Best wall time of `n` runs, peak memory of the first.
Run best(int n, const std::vector<std::string> &argv)
{
    Run b = runProcess(argv);
    for (int i = 1; i < n; ++i) {
        const Run r = runProcess(argv);
        if (r.ms >= 0 && r.ms < b.ms) b.ms = r.ms;
    }
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    const QString config = temporary.path() + QStringLiteral("/config");
    setenv("XDG_CONFIG_HOME", config.toLocal8Bit().constData(), 1);
    const std::string picsage = PICSAGE_LAUNCHER;
    const std::string out = (temporary.path() + QStringLiteral("/thumb.jpg")).toStdString();

    std::printf("Whole process: picsage (staged launcher, lensmind module) vs vipsthumbnail\n");
    std::printf("best wall time of 3 runs; peak = the process's peak resident size\n\n");
    std::printf("| picture | command | time ms | peak MiB | exit |\n|---|---|---:|---:|---:|\n");
    const auto row = [](const char *picture, const char *command, const Run &r) {
        std::printf("| %s | %s | %.1f | %.1f | %d |\n", picture, command, r.ms, r.peakKiB / 1024.0,
                    r.code);
        std::fflush(stdout);
    };

    const Run startUp =
        best(3, {picsage, "--pathname=/nonexistent.jpg", "--method=plainbackdrop_pc"});
    row("(none)", "picsage start-up only (exits -2)", startUp);

    for (const QSize size : {QSize(4000, 3000), QSize(12000, 9000)}) {
        const std::string path = pictureInChild(folder, size);
        const std::string name = std::to_string(size.width()) + "x" + std::to_string(size.height());
        row(name.c_str(), "picsage --method=plainbackdrop_pc (320x320 fit)",
            best(3, {picsage, "--pathname=" + path, "--method=plainbackdrop_pc"}));
        row(name.c_str(), "vipsthumbnail -s 320x320",
            best(3, {"/usr/bin/vipsthumbnail", "-s", "320x320", "-o", out, path}));
        row(name.c_str(), "picsage --method=pic_category_pc (full size below 10000)",
            best(3, {picsage, "--pathname=" + path, "--method=pic_category_pc"}));
    }

    // The largest picture the category method reads at full size.
    const QSize largest(9999, 9999);
    const std::string path = pictureInChild(folder, largest);
    row("9999x9999", "picsage --method=pic_category_pc (full size)",
        best(1, {picsage, "--pathname=" + path, "--method=pic_category_pc"}));
    row("9999x9999", "vipsthumbnail -s 320x320",
        best(1, {"/usr/bin/vipsthumbnail", "-s", "320x320", "-o", out, path}));
    std::printf("\nThe decoded 9999x9999 picture alone, 32-bit ARGB: %.1f MiB; picsage's peak "
                "above it is start-up and the decoder's working set.\n",
                double(largest.width()) * largest.height() * 4 / (1024 * 1024));
    return 0;
}
