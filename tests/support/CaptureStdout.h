#pragma once

#include <QByteArray>

#include <cstdio>
#include <unistd.h>

// Collects what the process writes to standard output (or to another descriptor, such as
// STDERR_FILENO) while it lives.
class CaptureStdout
{
public:
    explicit CaptureStdout(int descriptor = STDOUT_FILENO) : m_descriptor(descriptor)
    {
        std::fflush(nullptr);
        m_file = std::tmpfile();
        m_saved = ::dup(m_descriptor);
        ::dup2(::fileno(m_file), m_descriptor);
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
        std::fflush(nullptr);
        ::dup2(m_saved, m_descriptor);
        ::close(m_saved);
        m_saved = -1;
    }

    int m_descriptor;
    std::FILE *m_file = nullptr;
    int m_saved = -1;
};
