#pragma once

// A one-line progress bar redrawn in place on a terminal: "[#####-----]  12/300  name".
// Not thread-safe: callers that step it from several threads hold their own lock.

#include <QString>

#include <cstdio>

namespace console {

class ProgressBar
{
public:
    ProgressBar(std::FILE *terminal, int total, int width = 30);
    ~ProgressBar(); // ends the line when something was drawn

    // One more item done; `label` is shown after the count.
    void step(const QString &label);
    // Moves below the bar, so that a message that follows gets a line of its own.
    void interrupt();

private:
    void draw(const QString &label);

    std::FILE *m_terminal;
    int m_total;
    int m_width;
    int m_done = 0;
    bool m_drawn = false;
};

} // namespace console
