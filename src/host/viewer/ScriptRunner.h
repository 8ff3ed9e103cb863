#pragma once

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace viewer {

class ViewerWindow;

// Plays a list of commands against the running viewer, one a line, for tests and for the
// screenshot script. Keys are posted as ordinary key events to whatever has them at that
// moment (an open menu, a dialog, or the window); waits end on what the viewer reports,
// never after a fixed time, and fail the run after a generous limit.
//
//   open PATH           a picture file or folder, as on the command line
//   print TEXT          reports TEXT (a mark for whoever reads the output)
//   key NAME            a key as QKeySequence writes it: Right, Ctrl+S, Shift+Ctrl+S, +
//   type TEXT           the text, one key event per character
//   wheel DELTA [ctrl]  a wheel turn over the middle of the picture
//   resize W H          the window's size
//   wait-painted NAME   until NAME (or its message) has been painted
//   wait-report PREFIX  until the viewer reports a line starting with PREFIX
//   wait-frames N       until N animation frames have been shown
//   wait-settled        until every clip tile in view is decoded and painted
//   wait-dialog         until a dialog or a menu is open
//   screenshot PATH     the window as the X server shows it
//   screenshot-framed PATH  the window with its shadow, composed
//   quit
//
// "wait-" commands look at what happened since the last other command began. Lines that
// are empty or start with # are skipped.
class ScriptRunner : public QObject
{
    Q_OBJECT
public:
    ScriptRunner(ViewerWindow *window, const QStringList &lines, QObject *parent = nullptr);

    void start();

private:
    void next();
    void run(const QString &command, const QString &argument);
    void waitFor(std::function<bool()> condition);
    void poll();
    void fail(const QString &why);
    QWidget *keyTarget() const;
    void postKey(QWidget *target, const QString &keyName);
    bool screenshot(const QString &path, bool framed);

    ViewerWindow *m_window;
    QStringList m_lines;
    int m_line = 0;
    QTimer m_poll;
    std::function<bool()> m_condition;
    qint64 m_deadline = 0;
    // What happened since the last command that is not a wait began.
    QSet<QString> m_painted;
    QStringList m_reports;
    int m_frames = 0;
    int m_paints = 0;
    int m_settlePaints = -1;
};

} // namespace viewer
