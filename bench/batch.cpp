// picsage-analyse over a folder of generated JPEGs of mixed sizes, pictures per second with
// one and two worker processes, beside vipsthumbnail -s 256 in one and two processes over
// the same folder (the decode a batch cannot avoid). Wall time of whole runs, best of 2.
//
//   bench-batch [FOLDER]   FOLDER keeps the generated pictures (default: a temporary one)

#include "BenchPictures.h"

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
constexpr int PictureCount = 240;
const QSize Sizes[] = {{640, 480},   {1024, 768},  {1600, 1200},
                       {2048, 1536}, {3000, 2000}, {4000, 3000}};

using Command = std::vector<std::string>;

pid_t start(const Command &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Wall seconds for the commands run side by side; -1 when one failed.
double runTogether(const std::vector<Command> &commands)
{
    const auto begin = std::chrono::steady_clock::now();
    std::vector<pid_t> pids;
    for (const Command &c : commands)
        pids.push_back(start(c));
    bool ok = true;
    for (const pid_t pid : pids) {
        int status = 0;
        ok &= pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
              WEXITSTATUS(status) == 0;
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return ok ? s : -1;
}

double best(const std::vector<Command> &commands)
{
    double b = -1;
    for (int i = 0; i < 2; ++i) {
        const double s = runTogether(commands);
        if (s < 0) return -1;
        if (b < 0 || s < b) b = s;
    }
    return b;
}

// The folder's pictures: copies of one generated picture per size, sizes interleaved.
QStringList makePictures(const QString &folder)
{
    const QString sources = folder + QStringLiteral("/sources");
    QDir().mkpath(sources);
    QDir().mkpath(folder + QStringLiteral("/pictures"));
    QStringList made;
    for (int i = 0; i < PictureCount; ++i) {
        const QSize size = Sizes[i % int(std::size(Sizes))];
        const QString path =
            QStringLiteral("%1/pictures/p%2.jpg").arg(folder).arg(i, 3, 10, QLatin1Char('0'));
        if (!QFile::exists(path)) QFile::copy(benchJpeg(sources, size), path);
        made << path;
    }
    return made;
}
} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    setenv("XDG_CONFIG_HOME", (temporary.path() + QStringLiteral("/config")).toLocal8Bit(), 1);
    const QStringList pictures = makePictures(folder);
    const std::string pictureFolder = (folder + QStringLiteral("/pictures")).toStdString();
    const std::string thumbs = (temporary.path() + QStringLiteral("/thumbs")).toStdString();
    QDir().mkpath(QString::fromStdString(thumbs));

    std::printf("%d generated JPEGs, %d sizes from 640x480 to 4000x3000; best of 2 runs\n\n",
                PictureCount, int(std::size(Sizes)));
    std::printf("| work | processes | pictures/s |\n|---|---:|---:|\n");
    const auto row = [](const std::string &work, int processes, double seconds) {
        std::printf("| %s | %d | %.1f |\n", work.c_str(), processes,
                    seconds > 0 ? PictureCount / seconds : -1.0);
        std::fflush(stdout);
    };

    for (const char *method : {"plainbackdrop_pc", "pic_category_pc"}) {
        for (const int jobs : {1, 2}) {
            const Command analyse{PICSAGE_ANALYSE, std::string("--method=") + method,
                                  "--jobs=" + std::to_string(jobs), pictureFolder};
            row(std::string("picsage-analyse --method=") + method, jobs, best({analyse}));
        }
    }
    for (const int processes : {1, 2}) {
        std::vector<Command> commands(
            processes, Command{"/usr/bin/vipsthumbnail", "-s", "256", "-o", thumbs + "/%s.jpg"});
        for (int i = 0; i < pictures.size(); ++i)
            commands[i % processes].push_back(pictures.at(i).toStdString());
        row("vipsthumbnail -s 256", processes, best(commands));
    }
    return 0;
}
