#pragma once

#include <QByteArray>

#include <cstdio>
#include <unistd.h>

// Collects what the process writes to standard output while it lives.
class CaptureStdout
{
public:
    CaptureStdout()
    {
        std::fflush(stdout);
        m_file = std::tmpfile();
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(::fileno(m_file), STDOUT_FILENO);
    }
    ~CaptureStdout() { restore(); }
    CaptureStdout(const CaptureStdout &) = delete;
    CaptureStdout &operator=(const CaptureStdout &) = delete;

    QByteArray text()
    {
        restore();
        QByteArray data;
        std::rewind(m_file);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            data.append(buffer, int(n));
        return data;
    }

private:
    void restore()
    {
        if (m_saved < 0) return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    std::FILE *m_file = nullptr;
    int m_saved = -1;
};
