#include "Coordinator.h"

#include "BatchWorker.h"
#include "ProgressBar.h"
#include "ResultLines.h"
#include "WholeWrite.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

Coordinator::Coordinator(const BatchOptions &options, int outputFd, QObject *parent)
    : QObject(parent), m_options(options), m_outputFd(outputFd)
{
}

Coordinator::~Coordinator()
{
    for (Worker *worker : qAsConst(m_workers)) {
        if (worker->process) {
            worker->process->disconnect(this);
            worker->process->kill();
            worker->process->waitForFinished(1000);
        }
        delete worker;
    }
    delete m_progress;
}

bool Coordinator::run(const QList<QByteArray> &pictures)
{
    m_pending = QQueue<QByteArray>();
    for (const QByteArray &p : pictures)
        m_pending.enqueue(p);
    m_left = pictures.size();
    if (m_left == 0) return true;
    m_progress = new ProgressBar(m_left, stderr);
    const int count = qMin(m_options.jobs, m_left);
    for (int i = 0; i < count; ++i) {
        auto *worker = new Worker;
        worker->timer = new QTimer(this);
        worker->timer->setSingleShot(true);
        connect(worker->timer, &QTimer::timeout, this, [worker] {
            if (!worker->process) return;
            worker->timedOut = true;
            worker->process->kill();
        });
        m_workers << worker;
        startWorker(worker);
    }
    QCoreApplication::exec();
    delete m_progress;
    m_progress = nullptr;
    return !m_writeFailed;
}

void Coordinator::startWorker(Worker *worker)
{
    auto *process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(env);
    process->setReadChannel(QProcess::StandardOutput);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, worker] { readAnswers(worker); });
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this, worker] { workerEnded(worker); });
    connect(process, &QProcess::errorOccurred, this, [this, worker](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) workerEnded(worker);
    });
    worker->process = process;
    worker->received.clear();
    process->start(QCoreApplication::applicationFilePath(), m_options.workerArguments());
    feed(worker);
}

void Coordinator::feed(Worker *worker)
{
    if (m_pending.isEmpty() || m_writeFailed) {
        worker->picture.clear();
        // No more work: closing its input ends the worker.
        worker->process->closeWriteChannel();
        return;
    }
    worker->picture = m_pending.dequeue();
    worker->lines.clear();
    worker->lastMethod.clear();
    worker->timedOut = false;
    worker->clock.start();
    worker->process->write(worker->picture.toPercentEncoding() + '\n');
    worker->timer->start(m_options.timeoutSeconds * 1000);
}

void Coordinator::readAnswers(Worker *worker)
{
    worker->received += worker->process->readAllStandardOutput();
    int newline;
    while ((newline = worker->received.indexOf('\n')) >= 0) {
        const QByteArray line = worker->received.left(newline);
        worker->received.remove(0, newline + 1);
        if (worker->picture.isEmpty()) continue;
        if (line.size() == 1 && line.at(0) == workerprotocol::End) {
            pictureDone(worker);
            feed(worker);
            continue;
        }
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 4 || fields.at(0).size() != 1 ||
            fields.at(0).at(0) != workerprotocol::Record)
            continue;
        // The record may hold tabs only escaped, so the fourth field is all of it.
        const int recordStart = fields.at(0).size() + fields.at(1).size() + fields.at(2).size() + 3;
        worker->lastMethod = QString::fromUtf8(fields.at(1));
        worker->lines += resultLine(worker->picture, worker->lastMethod, fields.at(2).toLongLong(),
                                    line.mid(recordStart));
    }
}

QString Coordinator::methodAtWork(const QString &lastAnswered) const
{
    if (lastAnswered.isEmpty()) return m_options.methods.value(0);
    int i = m_options.methods.indexOf(lastAnswered);
    // The follow-up answered: the list goes on after the category method that called it.
    if (i < 0) i = m_options.methods.indexOf(QStringLiteral("pic_category_pc"));
    return m_options.methods.value(i + 1, lastAnswered);
}

void Coordinator::workerEnded(Worker *worker)
{
    worker->timer->stop();
    QProcess *process = worker->process;
    if (!process) return;
    readAnswers(worker);
    worker->process = nullptr;
    process->deleteLater();
    if (!worker->picture.isEmpty()) {
        const QString method = methodAtWork(worker->lastMethod);
        const int code = worker->timedOut ? TimedOut : WorkerCrashed;
        const QString msg =
            worker->timedOut ? QStringLiteral("timed out after %1 s").arg(m_options.timeoutSeconds)
                             : QStringLiteral("worker crashed");
        worker->lines +=
            resultLine(worker->picture, method, worker->clock.elapsed(), failureRecord(code, msg));
        pictureDone(worker);
    }
    if (!m_pending.isEmpty() && !m_writeFailed) {
        startWorker(worker);
        return;
    }
    finishIfDone();
}

void Coordinator::pictureDone(Worker *worker)
{
    worker->timer->stop();
    for (const QByteArray &line : worker->lines.split('\n'))
        if (!line.isEmpty() && retOfLine(line) < 0) m_anyFailed = true;
    // One write per picture: a run stopped at any moment leaves whole pictures behind.
    if (!m_writeFailed && !writeWhole(m_outputFd, worker->lines)) m_writeFailed = true;
    worker->picture.clear();
    worker->lines.clear();
    --m_left;
    if (m_progress) m_progress->advance(1);
}

void Coordinator::finishIfDone()
{
    for (Worker *worker : qAsConst(m_workers))
        if (worker->process) return;
    QCoreApplication::quit();
}
