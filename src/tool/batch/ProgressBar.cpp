#include "ProgressBar.h"

#include <unistd.h>

namespace {
constexpr int Width = 30;
constexpr qint64 RedrawMs = 200;
} // namespace

ProgressBar::ProgressBar(int total, std::FILE *stream)
    : m_total(total), m_stream(stream), m_terminal(::isatty(::fileno(stream)) == 1)
{
    m_clock.start();
    if (m_terminal) draw();
}

ProgressBar::~ProgressBar()
{
    if (!m_terminal) return;
    draw();
    std::fputc('\n', m_stream);
}

void ProgressBar::advance(int done)
{
    m_done += done;
    if (!m_terminal) return;
    const qint64 now = m_clock.elapsed();
    if (m_lastDraw >= 0 && now - m_lastDraw < RedrawMs && m_done < m_total) return;
    m_lastDraw = now;
    draw();
}

void ProgressBar::draw()
{
    const double seconds = m_clock.elapsed() / 1000.0;
    const double rate = seconds > 0 ? m_done / seconds : 0;
    const int filled = m_total > 0 ? int(qint64(Width) * m_done / m_total) : Width;
    char bar[Width + 1];
    for (int i = 0; i < Width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[Width] = 0;
    std::fprintf(m_stream, "\r[%s] %d/%d  %.1f pictures/s", bar, m_done, m_total, rate);
    if (rate > 0 && m_done < m_total) {
        const long left = long((m_total - m_done) / rate);
        std::fprintf(m_stream, "  %ld:%02ld:%02ld left", left / 3600, left / 60 % 60, left % 60);
    } else {
        std::fprintf(m_stream, "              ");
    }
    std::fflush(m_stream);
}
