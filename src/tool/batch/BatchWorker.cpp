#include "BatchWorker.h"

#include "BatchOptions.h"
#include "ResultLines.h"
#include "WholeWrite.h"
#include "app/PhotoApplication.h"
#include "platform/FileNameBytes.h"
#include "tool/BatchAnalysis.h"

#include <QElapsedTimer>
#include <QFile>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace {
QByteArray recordLine(const QString &method, qint64 ms, const QByteArray &record)
{
    return QByteArray(1, workerprotocol::Record) + '\t' + method.toUtf8() + '\t' +
           QByteArray::number(ms) + '\t' + record + '\n';
}
} // namespace

int runWorker(const BatchOptions &options, int &argc, char **argv)
{
    // A worker outliving its coordinator would wait on its pipe forever.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) return 1;

    // Standard output is the conversation; a library's own prints go to standard error.
    const int conversation = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the one-picture tool: the records say everything.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    PhotoApplication app(argc, argv);

    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) return 1;
    while (true) {
        QByteArray line = input.readLine();
        if (line.isEmpty()) break;
        if (line.endsWith('\n')) line.chop(1);
        const QString path = platform::fileNameFromBytes(QByteArray::fromPercentEncoding(line));
        QByteArray answer;
        if (!platform::fileExists(path)) {
            answer = recordLine(options.methods.value(0), 0,
                                failureRecord(-2, QStringLiteral("file not found")));
        } else {
            QElapsedTimer clock;
            clock.start();
            analyseForRecords(options.methods, path, options.autoFollowUp,
                              [&](const QString &method, const AnalysisResult &record) {
                                  answer +=
                                      recordLine(method, clock.restart(), record.toJson().toUtf8());
                              });
        }
        answer += workerprotocol::End;
        answer += '\n';
        if (!writeWhole(conversation, answer)) return 1;
    }
    return 0;
}
