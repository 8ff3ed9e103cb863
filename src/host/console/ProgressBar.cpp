#include "host/console/ProgressBar.h"

namespace console {

namespace {
// Labels longer than this are cut at the front: the end of a path tells most.
constexpr int LabelWidth = 40;
} // namespace

ProgressBar::ProgressBar(std::FILE *terminal, int total, int width)
    : m_terminal(terminal), m_total(qMax(0, total)), m_width(qMax(1, width))
{
}

ProgressBar::~ProgressBar()
{
    interrupt();
}

void ProgressBar::step(const QString &label)
{
    m_done = qMin(m_total, m_done + 1);
    draw(label);
}

void ProgressBar::interrupt()
{
    if (!m_drawn) return;
    std::fputc('\n', m_terminal);
    std::fflush(m_terminal);
    m_drawn = false;
}

void ProgressBar::draw(const QString &label)
{
    const int filled = m_total > 0 ? int(qint64(m_done) * m_width / m_total) : m_width;
    QString shown = label;
    if (shown.size() > LabelWidth) shown = QStringLiteral("...") + shown.right(LabelWidth - 3);
    const QString digits = QString::number(m_total);
    const QString line =
        QStringLiteral("\r[%1%2] %3/%4 %5\x1b[K")
            .arg(QString(filled, QLatin1Char('#')), QString(m_width - filled, QLatin1Char('-')))
            .arg(m_done, digits.size())
            .arg(digits, shown);
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_terminal);
    std::fflush(m_terminal);
    m_drawn = true;
}

} // namespace console
