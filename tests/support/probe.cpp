// A stand-in for the processes that run analyses. It carries the library's code itself, so
// a test copies it into a staged tree and the library's folder rules apply to that copy.
//
//   probe run PICTURE METHODS AUTO        runAnalysis; ends through exit() with its code
//   probe threads N PICTURE METHODS       N threads run at once; prints each code
//   probe cmd LINE                        the command-line analysis of one whole command line
//   probe dl LIBRARY PICTURE METHODS FLAG [THREADS]
//                                         AnalyseImage found with dlsym in LIBRARY, called
//                                         from THREADS threads at once (default one call)

#include "tool/CommandLineAnalysis.h"
#include "tool/RunAnalysis.h"

#include <QFile>
#include <QGuiApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace {
QList<AnalysisMethod> methodsOf(const QString &list)
{
    return methodsFromNames(list.split(QLatin1Char(',')));
}

int threads(int count, const QString &picture, const QString &list)
{
    QVector<int> codes(count, -100);
    QList<QThread *> workers;
    for (int i = 0; i < count; ++i)
        workers << QThread::create(
            [&, i] { codes[i] = runAnalysis(methodsOf(list), picture, false); });
    for (QThread *t : workers)
        t->start();
    for (QThread *t : workers) {
        t->wait();
        delete t;
    }
    for (int code : codes)
        std::printf("%d\n", code);
    return 0;
}

int viaLibrary(const QString &library, const QString &picture, const QString &list, uint32_t flag,
               int threads)
{
    void *handle = dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return 100;
    using Analyse = int32_t (*)(const char16_t *, const char16_t *, uint32_t);
    auto analyse = reinterpret_cast<Analyse>(dlsym(handle, "AnalyseImage"));
    if (!analyse) return 101;
    const auto call = [&] {
        return analyse(reinterpret_cast<const char16_t *>(picture.utf16()),
                       reinterpret_cast<const char16_t *>(list.utf16()), flag);
    };
    if (threads <= 0) return call();
    QVector<int> codes(threads, -100);
    QList<QThread *> workers;
    for (int i = 0; i < threads; ++i)
        workers << QThread::create([&, i] { codes[i] = call(); });
    for (QThread *t : workers)
        t->start();
    for (QThread *t : workers) {
        t->wait();
        delete t;
    }
    // All calls must agree; the common code is the answer.
    return codes.count(codes.first()) == threads ? codes.first() : 102;
}
} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList a = app.arguments();
    int code = 99;
    const QString mode = a.value(1);
    if (mode == QLatin1String("run") && a.size() == 5)
        code = runAnalysis(methodsOf(a[3]), a[2], a[4] == QLatin1String("1"));
    else if (mode == QLatin1String("threads") && a.size() == 5)
        code = threads(a[2].toInt(), a[3], a[4]);
    else if (mode == QLatin1String("cmd") && a.size() == 3)
        code = runCommandLine(a[2]);
    else if (mode == QLatin1String("dl") && (a.size() == 6 || a.size() == 7))
        code = viaLibrary(a[2], a[3], a[4], a[5].toUInt(nullptr, 0), a.value(6).toInt());
    std::printf("code %d\n", code);
    std::fflush(stdout);
    // As the command-line tool does: static objects go down on the way out, the module with them.
    std::exit(code);
}
