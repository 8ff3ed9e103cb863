#pragma once

#include "BatchOptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QQueue>

class ProgressBar;
class QProcess;
class QTimer;

// Hands the pictures to N worker processes, one at a time each, and writes each picture's
// lines together when it is done. A worker that dies or overruns the time limit is recorded
// for its picture (-4, -5) and replaced.
class Coordinator : public QObject
{
    Q_OBJECT
public:
    // The codes of the pictures a worker could not finish.
    static constexpr int WorkerCrashed = -4;
    static constexpr int TimedOut = -5;

    Coordinator(const BatchOptions &options, int outputFd, QObject *parent = nullptr);
    ~Coordinator() override;

    // Analyses `pictures`; returns when all are written. False when the output could not be
    // written (the run stops there).
    bool run(const QList<QByteArray> &pictures);
    bool anyFailed() const { return m_anyFailed; }

private:
    struct Worker
    {
        QProcess *process = nullptr;
        QTimer *timer = nullptr;
        QByteArray picture; // empty: idle
        QByteArray received;
        QByteArray lines;
        QString lastMethod; // the last method that answered for the picture
        bool timedOut = false;
        QElapsedTimer clock;
    };

    void startWorker(Worker *worker);
    void feed(Worker *worker);
    void readAnswers(Worker *worker);
    void workerEnded(Worker *worker);
    void pictureDone(Worker *worker);
    void finishIfDone();
    // The method a lost worker was running: the one after the last that answered (the
    // follow-up's list position is its category method's). The last one when all answered.
    QString methodAtWork(const QString &lastAnswered) const;

    BatchOptions m_options;
    int m_outputFd;
    QList<Worker *> m_workers;
    QQueue<QByteArray> m_pending;
    ProgressBar *m_progress = nullptr;
    int m_left = 0;
    bool m_anyFailed = false;
    bool m_writeFailed = false;
};
