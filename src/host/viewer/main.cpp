// picsage-viewer [--skins DIR] [--script FILE] [--report] [--exit-after-first-paint] [FILE|DIR]
//
// The desktop viewer that hosts the picture library: a frameless, skinned window over one
// folder of pictures. Built on the library's exported classes only, as any host would be.

#include "app/PhotoApplication.h"
#include "host/viewer/PictureView.h"
#include "host/viewer/ScriptRunner.h"
#include "host/viewer/ViewerWindow.h"
#include "skin/PhotoStyle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char Usage[] =
    "usage: picsage-viewer [--skins DIR] [--script FILE] [--report] [--exit-after-first-paint] "
    "[FILE|DIR]\n"
    "Shows the pictures of a folder, starting at FILE or at the first picture of DIR.\n"
    "  --skins DIR               the folder of skins the skin menu offers\n"
    "                            (default: skins beside the program)\n"
    "  --script FILE             plays the commands of FILE against the window (implies --report)\n"
    "  --report                  writes what the viewer does to standard output, a line each\n"
    "  --exit-after-first-paint  ends once the first picture is painted; the time since start\n"
    "                            goes to standard error (exit status 2: the picture could\n"
    "                            not be shown)\n";

struct Options
{
    QString path;
    QString skins;
    QString script;
    bool report = false;
    bool exitAfterFirstPaint = false;
};

// False with a message on a usage error; `help` set for --help.
bool parse(int argc, char **argv, Options *options, bool *help)
{
    bool pathSeen = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const auto value = [&](QString *into) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "picsage-viewer: %s needs a value\n", arg);
                return false;
            }
            *into = QFile::decodeName(argv[++i]);
            return true;
        };
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            *help = true;
            return true;
        } else if (!std::strcmp(arg, "--skins")) {
            if (!value(&options->skins)) return false;
        } else if (!std::strcmp(arg, "--script")) {
            if (!value(&options->script)) return false;
            options->report = true;
        } else if (!std::strcmp(arg, "--report")) {
            options->report = true;
        } else if (!std::strcmp(arg, "--exit-after-first-paint")) {
            options->exitAfterFirstPaint = true;
        } else if (arg[0] == '-' && arg[1] != '\0' && std::strcmp(arg, "--") != 0) {
            std::fprintf(stderr, "picsage-viewer: unknown option %s\n", arg);
            return false;
        } else {
            if (!std::strcmp(arg, "--")) {
                if (++i >= argc) break;
                arg = argv[i];
            }
            if (pathSeen) {
                std::fprintf(stderr, "picsage-viewer: one FILE or DIR only\n");
                return false;
            }
            options->path = QFile::decodeName(arg);
            pathSeen = true;
        }
    }
    return true;
}

// The application's photo style knows no skins folder; the viewer's offers its skins.
void installSkins(PhotoApplication &app, const QString &folder)
{
    auto *style = new PhotoStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    style->init(folder, QStringLiteral("zh_CN"), 1.99);
    style->setSkin(QString());
    // The application takes the style over and drops its own; its resLoader() then names
    // the dropped one, which the viewer never asks for.
    app.setStyle(style);
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    Options options;
    bool help = false;
    if (!parse(argc, argv, &options, &help)) {
        std::fputs(Usage, stderr);
        return 1;
    }
    if (help) {
        std::fputs(Usage, stdout);
        return 0;
    }

    PhotoApplication app(argc, argv);
    // The library reads PSD and raw pictures itself. The stand-alone Qt plug-ins staged
    // beside this program are for other Qt programs: were Qt to find them in our folder, the
    // process would hold a second copy of each reader.
    QCoreApplication::removeLibraryPath(QCoreApplication::applicationDirPath());
    QStringList script;
    if (!options.script.isEmpty()) {
        QFile file(options.script);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "picsage-viewer: cannot read %s\n",
                         QFile::encodeName(options.script).constData());
            return 2;
        }
        script = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    }
    if (options.skins.isEmpty())
        options.skins = QCoreApplication::applicationDirPath() + QStringLiteral("/skins");
    if (QFileInfo(options.skins).isDir())
        installSkins(app, QFileInfo(options.skins).absoluteFilePath());
    else
        options.skins.clear();

    viewer::ViewerWindow window(options.skins);
    window.setReporting(options.report);
    bool firstPaintSeen = false;
    int firstPaintCode = 0;
    if (options.exitAfterFirstPaint) {
        QObject::connect(
            window.view(), &viewer::PictureView::painted, &app, [&](const QString &, int frame) {
                if (firstPaintSeen) return;
                firstPaintSeen = true;
                // A message in place of the picture is no picture painted.
                if (frame < 0) {
                    std::fprintf(stderr, "first paint: no picture\n");
                    firstPaintCode = 2;
                } else {
                    std::fprintf(stderr, "first-paint-ms %.1f\n", sinceStart.nsecsElapsed() / 1e6);
                }
                QTimer::singleShot(0, &app, &QCoreApplication::quit);
            });
    }
    window.open(options.path);
    window.show();

    std::unique_ptr<viewer::ScriptRunner> runner;
    if (!script.isEmpty()) {
        runner = std::make_unique<viewer::ScriptRunner>(&window, script);
        runner->start();
    }
    const int code = app.exec();
    return code != 0 ? code : firstPaintCode;
}
