#pragma once

#include <QElapsedTimer>

#include <cstdio>

// A one-line bar on a terminal: done of total, pictures a second, time left. Draws nothing
// when `stream` is not a terminal, so that logs stay clean.
class ProgressBar
{
public:
    ProgressBar(int total, std::FILE *stream);
    ~ProgressBar();

    void advance(int done);

private:
    void draw();

    int m_total;
    int m_done = 0;
    std::FILE *m_stream;
    bool m_terminal;
    QElapsedTimer m_clock;
    qint64 m_lastDraw = -1;
};
