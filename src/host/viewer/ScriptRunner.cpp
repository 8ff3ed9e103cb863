#include "host/viewer/ScriptRunner.h"

#include "host/VuShadowBorder.h"
#include "host/viewer/PictureView.h"
#include "host/viewer/ViewerWindow.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>

#include <cstdio>

namespace viewer {

namespace {

// A wait that has not ended after this long has failed (a loaded machine is slow, a broken
// viewer is stuck).
constexpr qint64 WaitLimitMs = 60000;
constexpr int PollMs = 10;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

ScriptRunner::ScriptRunner(ViewerWindow *window, const QStringList &lines, QObject *parent)
    : QObject(parent), m_window(window), m_lines(lines)
{
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, &ScriptRunner::poll);
    connect(window->view(), &PictureView::painted, this, [this](const QString &name) {
        m_painted.insert(name);
        ++m_paints;
    });
    connect(window->view(), &PictureView::frameShown, this, [this] { ++m_frames; });
    connect(window, &ViewerWindow::reported, this,
            [this](const QString &line) { m_reports << line; });
}

void ScriptRunner::start()
{
    QTimer::singleShot(0, this, &ScriptRunner::next);
}

void ScriptRunner::next()
{
    while (m_line < m_lines.size()) {
        const QString line = m_lines.at(m_line++).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const int space = line.indexOf(QLatin1Char(' '));
        const QString command = space < 0 ? line : line.left(space);
        const QString argument = space < 0 ? QString() : line.mid(space + 1).trimmed();
        if (!command.startsWith(QLatin1String("wait-"))) {
            m_painted.clear();
            m_reports.clear();
            m_frames = 0;
        }
        // The next command runs from the event loop: a key may open a dialog whose own loop
        // must carry the script on.
        run(command, argument);
        return;
    }
}

void ScriptRunner::waitFor(std::function<bool()> condition)
{
    m_condition = std::move(condition);
    m_deadline = nowMs() + WaitLimitMs;
    m_poll.start();
}

void ScriptRunner::poll()
{
    if (!m_condition) return;
    if (m_condition()) {
        m_condition = nullptr;
        m_poll.stop();
        QTimer::singleShot(0, this, &ScriptRunner::next);
    } else if (nowMs() > m_deadline) {
        m_condition = nullptr;
        m_poll.stop();
        fail(QStringLiteral("timed out"));
    }
}

void ScriptRunner::fail(const QString &why)
{
    std::fprintf(stderr, "script line %d: %s: %s\n", m_line,
                 m_lines.value(m_line - 1).toUtf8().constData(), why.toUtf8().constData());
    std::fflush(stderr);
    QCoreApplication::exit(3);
}

QWidget *ScriptRunner::keyTarget() const
{
    if (QWidget *popup = QApplication::activePopupWidget()) return popup;
    if (QWidget *modal = QApplication::activeModalWidget()) {
        if (QWidget *focus = modal->focusWidget()) return focus;
        if (auto *edit = modal->findChild<QLineEdit *>()) return edit;
        return modal;
    }
    return m_window;
}

void ScriptRunner::postKey(QWidget *target, const QString &keyName)
{
    const QKeySequence sequence(keyName);
    if (sequence.isEmpty()) {
        fail(QStringLiteral("unknown key"));
        return;
    }
    const int combined = sequence[0];
    const int key = combined & ~int(Qt::KeyboardModifierMask);
    const auto modifiers = Qt::KeyboardModifiers(combined & int(Qt::KeyboardModifierMask));
    QString text;
    if (!(modifiers & Qt::ControlModifier)) {
        if (key == Qt::Key_Space)
            text = QStringLiteral(" ");
        else if (key < Qt::Key_Escape)
            text =
                modifiers & Qt::ShiftModifier ? QString(QChar(key)) : QString(QChar(key)).toLower();
    }
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, modifiers, text));
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, modifiers, text));
}

bool ScriptRunner::screenshot(const QString &path, bool framed)
{
    QScreen *screen = m_window->screen();
    if (!screen) return false;
    const QPixmap window = screen->grabWindow(m_window->winId());
    if (!framed) return window.save(path);
    // The shadow is a see-through window of its own: compose it as a compositor would.
    host::VuShadowBorder *shadow = m_window->shadow();
    const int margin = shadow->margin();
    const qreal ratio = window.devicePixelRatio();
    QImage canvas((m_window->size() + QSize(2 * margin, 2 * margin)) * ratio,
                  QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    shadow->resize(m_window->size() + QSize(2 * margin, 2 * margin));
    shadow->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.drawPixmap(QPoint(margin, margin), window);
    painter.end();
    return canvas.save(path);
}

void ScriptRunner::run(const QString &command, const QString &argument)
{
    const auto proceed = [this] { QTimer::singleShot(0, this, &ScriptRunner::next); };
    if (command == QLatin1String("key")) {
        postKey(keyTarget(), argument);
        proceed();
    } else if (command == QLatin1String("type")) {
        QWidget *target = keyTarget();
        for (const QChar c : argument) {
            QCoreApplication::postEvent(target,
                                        new QKeyEvent(QEvent::KeyPress, 0, Qt::NoModifier, c));
            QCoreApplication::postEvent(target,
                                        new QKeyEvent(QEvent::KeyRelease, 0, Qt::NoModifier, c));
        }
        proceed();
    } else if (command == QLatin1String("wheel")) {
        const QStringList parts = argument.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const int delta = parts.value(0).toInt();
        const auto modifiers =
            parts.contains(QLatin1String("ctrl")) ? Qt::ControlModifier : Qt::NoModifier;
        PictureView *view = m_window->view();
        const QPointF at = QPointF(view->mapTo(m_window, view->rect().center()));
        QCoreApplication::postEvent(m_window,
                                    new QWheelEvent(at, m_window->mapToGlobal(at.toPoint()),
                                                    QPoint(), QPoint(0, delta), Qt::NoButton,
                                                    modifiers, Qt::NoScrollPhase, false));
        proceed();
    } else if (command == QLatin1String("resize")) {
        const QStringList parts = argument.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        m_window->resize(parts.value(0).toInt(), parts.value(1).toInt());
        proceed();
    } else if (command == QLatin1String("wait-painted")) {
        waitFor([this, argument] { return m_painted.contains(argument); });
    } else if (command == QLatin1String("wait-report")) {
        waitFor([this, argument] {
            for (const QString &line : qAsConst(m_reports))
                if (line.startsWith(argument)) return true;
            return false;
        });
    } else if (command == QLatin1String("wait-frames")) {
        const int count = argument.toInt();
        waitFor([this, count] { return m_frames >= count; });
    } else if (command == QLatin1String("wait-settled")) {
        m_settlePaints = -1;
        waitFor([this] {
            if (m_window->view()->tilesLoading() > 0) {
                m_settlePaints = -1;
                return false;
            }
            // Nothing loading: one more paint shows whatever arrived last.
            if (m_settlePaints < 0) {
                m_settlePaints = m_paints;
                m_window->view()->update();
                return false;
            }
            return m_paints > m_settlePaints && m_window->view()->tilesLoading() == 0;
        });
    } else if (command == QLatin1String("wait-dialog")) {
        waitFor(
            [] { return QApplication::activeModalWidget() || QApplication::activePopupWidget(); });
    } else if (command == QLatin1String("screenshot") ||
               command == QLatin1String("screenshot-framed")) {
        if (!screenshot(argument, command.endsWith(QLatin1String("framed")))) {
            fail(QStringLiteral("cannot write the screenshot"));
            return;
        }
        m_window->report(QStringLiteral("screenshot ") + argument);
        proceed();
    } else if (command == QLatin1String("open")) {
        m_window->open(argument);
        proceed();
    } else if (command == QLatin1String("print")) {
        m_window->report(argument);
        proceed();
    } else if (command == QLatin1String("quit")) {
        m_window->close();
    } else {
        fail(QStringLiteral("unknown command"));
    }
}

} // namespace viewer
