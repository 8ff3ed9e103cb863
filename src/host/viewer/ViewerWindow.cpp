#include "host/viewer/ViewerWindow.h"

#include "host/VuMenu.h"
#include "host/VuPushButton.h"
#include "host/VuShadowBorder.h"
#include "host/viewer/CaptionBar.h"
#include "host/viewer/PictureView.h"
#include "host/viewer/SkinnedDialogs.h"
#include "host/viewer/Trash.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"
#include "skin/VuSApplication.h"
#include "skin/VuSkinStyle.h"

#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>

namespace viewer {

namespace {

// Width of the band along the window's edges that resizes it.
constexpr int ResizeBand = 4;
constexpr int ShadowWidth = 12;
// Folder changes come in bursts (a copy writes, renames, touches): look once they settle.
constexpr int RescanDelayMs = 150;
constexpr double ZoomStep = 1.25;

const QColor EdgeColour(0xc8, 0xc8, 0xc8);

struct ExportFormat
{
    const char *name;
    ImageFormatEnum id;
    const char *suffix;
};

const ExportFormat ExportFormats[] = {
    {"JPEG", FormatJpg, "jpg"},
    {"PNG", FormatPng, "png"},
    {"BMP", FormatBmp, "bmp"},
    {"TIFF", FormatTif, "tif"},
};

} // namespace

ViewerWindow::ViewerWindow(const QString &skinsDirectory, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_skinsDirectory(skinsDirectory),
      m_caption(new CaptionBar(this)), m_view(new PictureView(this)),
      m_shadow(std::make_unique<host::VuShadowBorder>(this, ShadowWidth))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(ResizeBand, ResizeBand, ResizeBand, ResizeBand);
    layout->setSpacing(0);
    layout->addWidget(m_caption);
    layout->addWidget(m_view, 1);
    connect(m_caption, &CaptionBar::skinMenuRequested, this, &ViewerWindow::showSkinMenu);
    connect(m_caption, &CaptionBar::closeRequested, this, &QWidget::close);

    connect(m_view, &PictureView::painted, this, [this](const QString &name, int frame, double) {
        const QString line = frame < 0 ? QStringLiteral("painted-message ") + name
                                       : QStringLiteral("painted ") + name;
        // Once per picture shown, not for every repaint.
        if (line != m_lastPainted) report(line);
        m_lastPainted = line;
    });
    connect(m_view, &PictureView::frameShown, this, [this](const QString &name, int frame) {
        report(QStringLiteral("frame %1 %2").arg(name).arg(frame));
    });

    m_rescan.setSingleShot(true);
    m_rescan.setInterval(RescanDelayMs);
    connect(&m_rescan, &QTimer::timeout, this, &ViewerWindow::rescanFolder);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_rescan,
            QOverload<>::of(&QTimer::start));
    resize(960, 680);
}

ViewerWindow::~ViewerWindow() = default;

void ViewerWindow::report(const QString &line)
{
    emit reported(line);
    if (!m_reporting) return;
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void ViewerWindow::open(const QString &path)
{
    const QFileInfo info(path.isEmpty() ? QDir::currentPath() : path);
    const bool isFolder = info.isDir();
    m_folderPath = isFolder ? info.absoluteFilePath() : info.absolutePath();
    m_folder.reset(new ImageDirectory);
    if (!m_folder->init(m_folderPath, {})) {
        showNothing(tr("The folder \"%1\" does not exist.").arg(m_folderPath));
        return;
    }
    if (!m_watcher.directories().isEmpty()) m_watcher.removePaths(m_watcher.directories());
    m_watcher.addPath(m_folderPath);
    if (isFolder) {
        if (m_folder->count() == 0)
            showNothing(tr("There are no pictures in \"%1\".").arg(m_folderPath));
        else
            showName(m_folder->nameOf(0));
        return;
    }
    showName(info.fileName());
}

void ViewerWindow::showNothing(const QString &message)
{
    m_current.clear();
    m_lastPainted.clear();
    m_view->setMessage(QString(), message);
    updateTitle();
}

void ViewerWindow::showName(const QString &name)
{
    m_current = name;
    m_lastPainted.clear();
    updateTitle();
    // createImage answers another name for one the folder does not list: only listed names.
    const QSharedPointer<ImageWrapper> picture = m_folder && m_folder->indexOf(name) >= 0
                                                     ? m_folder->createImage(name, 0, m_folder)
                                                     : QSharedPointer<ImageWrapper>();
    if (!picture) {
        m_view->setMessage(name, tr("\"%1\" cannot be opened.").arg(name));
        return;
    }
    m_view->setPicture(picture, name);
    if (picture->status() != ImageStatusReady) m_loader.load(picture);
}

void ViewerWindow::updateTitle()
{
    QString title = QStringLiteral("picsage");
    if (!m_current.isEmpty() && m_folder) {
        const int index = m_folder->indexOf(m_current);
        title = index >= 0 ? QStringLiteral("%1 \u2014 %2 / %3")
                                 .arg(m_current)
                                 .arg(index + 1)
                                 .arg(m_folder->count())
                           : m_current;
    }
    if (title == windowTitle()) return;
    setWindowTitle(title);
    m_caption->setTitle(title);
    report(QStringLiteral("title ") + title);
}

void ViewerWindow::step(int offset)
{
    if (!m_folder || m_folder->count() == 0) return;
    // Drops the files that vanished on the way; wraps around at both ends.
    const QString path = m_folder->pathName(m_current, offset);
    if (path.isEmpty()) {
        showNothing(tr("There are no pictures in \"%1\".").arg(m_folderPath));
        return;
    }
    showName(QFileInfo(path).fileName());
}

void ViewerWindow::rescanFolder()
{
    if (!m_folder) return;
    const int before = m_folder->indexOf(m_current);
    // A list of its own: pictures still loading ask their folder for their path from the
    // loading thread, so the folder they hold is never filled again under them.
    QSharedPointer<ImageDirectory> fresh(new ImageDirectory);
    if (!fresh->init(m_folderPath, {})) {
        showNothing(tr("The folder \"%1\" is gone.").arg(m_folderPath));
        return;
    }
    m_folder = fresh;
    report(QStringLiteral("folder %1").arg(m_folder->count()));
    if (m_folder->count() == 0) {
        showNothing(tr("There are no pictures in \"%1\".").arg(m_folderPath));
        return;
    }
    if (!m_current.isEmpty() && m_folder->indexOf(m_current) >= 0) {
        updateTitle();
        return;
    }
    // The picture shown is gone: the one that moved into its place.
    showName(m_folder->nameOf(qBound(0, before, m_folder->count() - 1)));
}

void ViewerWindow::turn(bool clockwise)
{
    const QSharedPointer<ImageWrapper> picture = m_view->picture();
    if (!m_view->isShowingPicture() || !picture->canRotate(false)) {
        report(QStringLiteral("error cannot turn ") + m_current);
        return;
    }
    m_view->editPicture([clockwise](ImageWrapper *shown) {
        QString unused;
        shown->rotate(clockwise, unused, SaveNone); // in memory only: false by design
    });
    m_lastTurnClockwise = clockwise;
    report(QStringLiteral("turned %1 %2").arg(m_current).arg(picture->orientation()));
}

void ViewerWindow::save()
{
    const QSharedPointer<ImageWrapper> picture = m_view->picture();
    if (!m_view->isShowingPicture() || !picture->dirty()) {
        report(QStringLiteral("unchanged ") + m_current);
        return;
    }
    SaveChoiceDialog dialog(m_current, this);
    if (dialog.exec() != QDialog::Accepted || m_view->picture() != picture) return;
    const SaveChoiceDialog::Choice choice = dialog.choice();
    const bool clockwise = m_lastTurnClockwise;
    QString written;
    bool ok = false;
    m_view->editPicture([&](ImageWrapper *shown) {
        if (choice == SaveChoiceDialog::Overwrite) {
            ok = shown->save();
            written = shown->pathName();
        } else {
            // The library names and writes the copy as part of a turn: take the last turn
            // back in memory and make it again, written to the copy.
            QString unused;
            shown->rotate(!clockwise, unused, SaveNone);
            ok = shown->rotate(clockwise, written, SaveRotateCopy);
        }
    });
    report(ok ? QStringLiteral("saved ") + written
              : QStringLiteral("error cannot save ") + m_current);
    // Show the file as it now is on disk.
    if (ok) showName(m_current);
}

void ViewerWindow::saveAs()
{
    const QSharedPointer<ImageWrapper> picture = m_view->picture();
    if (!m_view->isShowingPicture()) return;
    PathDialog dialog(tr("Save as"), picture->pathName(), {}, this);
    if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty()) return;
    const QString path = QFileInfo(dialog.path()).absoluteFilePath();
    const bool ok = picture->saveAs(path, true);
    report(ok ? QStringLiteral("saved ") + path : QStringLiteral("error cannot save ") + path);
}

void ViewerWindow::exportPicture()
{
    const QSharedPointer<ImageWrapper> picture = m_view->picture();
    if (!m_view->isShowingPicture()) return;
    QStringList names;
    for (const ExportFormat &format : ExportFormats)
        names << QLatin1String(format.name);
    PathDialog dialog(tr("Export"), siblingPath(QStringLiteral(" - Export"), QStringLiteral("jpg")),
                      names, this);
    if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty()) return;
    const ExportFormat *chosen = &ExportFormats[0];
    for (const ExportFormat &format : ExportFormats)
        if (dialog.format() == QLatin1String(format.name)) chosen = &format;
    QFileInfo target(dialog.path());
    // The file's suffix follows the format chosen.
    const QString path = target.absolutePath() + QLatin1Char('/') + target.completeBaseName() +
                         QLatin1Char('.') + QLatin1String(chosen->suffix);
    const bool ok = picture->save(path, 0, 0, 90, chosen->id);
    report(ok ? QStringLiteral("exported ") + path : QStringLiteral("error cannot export ") + path);
}

void ViewerWindow::flip(bool horizontal)
{
    const QSharedPointer<ImageWrapper> picture = m_view->picture();
    if (!m_view->isShowingPicture()) return;
    const QString suffix = QFileInfo(m_current).suffix();
    PathDialog dialog(
        horizontal ? tr("Save a mirrored copy") : tr("Save a flipped copy"),
        siblingPath(horizontal ? QStringLiteral(" - Mirror") : QStringLiteral(" - Flip"), suffix),
        {}, this);
    if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty()) return;
    const QString path = QFileInfo(dialog.path()).absoluteFilePath();
    const bool ok = horizontal ? picture->horizonFlip(path) : picture->verticalFlip(path);
    report(ok ? QStringLiteral("saved ") + path : QStringLiteral("error cannot save ") + path);
}

QString ViewerWindow::siblingPath(const QString &tag, const QString &suffix) const
{
    const QString base = m_folderPath + QLatin1Char('/') + QFileInfo(m_current).completeBaseName();
    QString path = base + tag + QLatin1Char('.') + suffix;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = base + tag + QStringLiteral(" (%1).").arg(n) + suffix;
    return path;
}

void ViewerWindow::trashCurrent()
{
    if (m_current.isEmpty() || !m_folder) return;
    const QString path = m_folder->pathName(m_current);
    QString error, trashed;
    if (!Trash().moveToTrash(path, &error, &trashed)) {
        report(QStringLiteral("error ") + error);
        m_view->setMessage(m_current,
                           tr("\"%1\" was not moved to the trash: %2").arg(m_current, error));
        return;
    }
    report(QStringLiteral("trashed %1 %2").arg(path, trashed));
    rescanFolder();
}

QStringList ViewerWindow::skinNames() const
{
    if (m_skinsDirectory.isEmpty()) return {};
    QStringList names;
    const QDir dir(m_skinsDirectory);
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (QFileInfo::exists(dir.filePath(name + QStringLiteral("/theme.xml")))) names << name;
    return names;
}

void ViewerWindow::showSkinMenu()
{
    host::VuMenu menu(this);
    auto *group = new QActionGroup(&menu);
    const auto *style = qobject_cast<skin::VuSkinStyle *>(QApplication::style());
    const QString currentSkin = style ? style->skinName() : QString();
    QStringList names{QString()};
    names << skinNames();
    for (const QString &name : names) {
        // Each name's first letter chooses it from the keyboard.
        QAction *action =
            menu.addAction(name.isEmpty() ? tr("&Built-in") : QLatin1Char('&') + name);
        action->setCheckable(true);
        action->setChecked(name == currentSkin);
        action->setData(name);
        group->addAction(action);
    }
    QWidget *button = m_caption->skinButton();
    report(QStringLiteral("menu skin"));
    QAction *chosen = menu.exec(button->mapToGlobal(QPoint(0, button->height())));
    if (chosen) applySkin(chosen->data().toString());
}

bool ViewerWindow::applySkin(const QString &name)
{
    auto *app = qobject_cast<skin::VuSApplication *>(QCoreApplication::instance());
    const bool ok = app && app->setSkin(name);
    report(ok ? QStringLiteral("skin ") + (name.isEmpty() ? QStringLiteral("built-in") : name)
              : QStringLiteral("error no skin ") + name);
    // Everything drawn through the style takes the new look.
    const QList<QWidget *> widgets = findChildren<QWidget *>();
    for (QWidget *widget : widgets)
        widget->update();
    update();
    return ok;
}

void ViewerWindow::reportZoom()
{
    report(QStringLiteral("zoom %1 %2%").arg(m_current).arg(m_view->scale() * 100, 0, 'f', 1));
}

QPointF ViewerWindow::zoomAnchor() const
{
    const QPoint cursor = m_view->mapFromGlobal(QCursor::pos());
    return m_view->rect().contains(cursor) ? QPointF(cursor)
                                           : QPointF(m_view->width() / 2.0, m_view->height() / 2.0);
}

void ViewerWindow::keyPressEvent(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Space:
        step(1);
        break;
    case Qt::Key_Left:
    case Qt::Key_Backspace:
        step(-1);
        break;
    case Qt::Key_F:
        m_view->fitToView();
        reportZoom();
        break;
    case Qt::Key_1:
        m_view->showActualSize();
        reportZoom();
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        m_view->zoomAt(ZoomStep, zoomAnchor());
        reportZoom();
        break;
    case Qt::Key_Minus:
        m_view->zoomAt(1 / ZoomStep, zoomAnchor());
        reportZoom();
        break;
    case Qt::Key_L:
        turn(false);
        break;
    case Qt::Key_R:
        turn(true);
        break;
    case Qt::Key_H:
        flip(true);
        break;
    case Qt::Key_V:
        flip(false);
        break;
    case Qt::Key_S:
        if (ctrl && shift)
            saveAs();
        else if (ctrl)
            save();
        break;
    case Qt::Key_E:
        exportPicture();
        break;
    case Qt::Key_M:
        showSkinMenu();
        break;
    case Qt::Key_Delete:
        trashCurrent();
        break;
    case Qt::Key_Escape:
        close();
        break;
    case Qt::Key_Q:
        if (ctrl) close();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void ViewerWindow::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) return;
    if (event->modifiers() & Qt::ControlModifier) {
        const QPointF at = m_view->mapFrom(this, event->position().toPoint());
        m_view->zoomAt(delta > 0 ? ZoomStep : 1 / ZoomStep, at);
        reportZoom();
    } else {
        step(delta > 0 ? -1 : 1);
    }
    event->accept();
}

Qt::Edges ViewerWindow::edgesAt(const QPoint &pos) const
{
    Qt::Edges edges;
    if (isMaximized()) return edges;
    if (pos.x() < ResizeBand) edges |= Qt::LeftEdge;
    if (pos.x() >= width() - ResizeBand) edges |= Qt::RightEdge;
    if (pos.y() < ResizeBand) edges |= Qt::TopEdge;
    if (pos.y() >= height() - ResizeBand) edges |= Qt::BottomEdge;
    return edges;
}

void ViewerWindow::mousePressEvent(QMouseEvent *event)
{
    const Qt::Edges edges = edgesAt(event->pos());
    if (event->button() == Qt::LeftButton && edges && windowHandle())
        windowHandle()->startSystemResize(edges);
}

void ViewerWindow::mouseMoveEvent(QMouseEvent *event)
{
    const Qt::Edges edges = edgesAt(event->pos());
    if ((edges & Qt::LeftEdge && edges & Qt::TopEdge) ||
        (edges & Qt::RightEdge && edges & Qt::BottomEdge))
        setCursor(Qt::SizeFDiagCursor);
    else if ((edges & Qt::RightEdge && edges & Qt::TopEdge) ||
             (edges & Qt::LeftEdge && edges & Qt::BottomEdge))
        setCursor(Qt::SizeBDiagCursor);
    else if (edges & (Qt::LeftEdge | Qt::RightEdge))
        setCursor(Qt::SizeHorCursor);
    else if (edges & (Qt::TopEdge | Qt::BottomEdge))
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
}

void ViewerWindow::closeEvent(QCloseEvent *event)
{
    m_shadow->hide();
    QWidget::closeEvent(event);
    // The shadow is a window too: closing the viewer ends the program.
    QCoreApplication::quit();
}

void ViewerWindow::moveEvent(QMoveEvent *)
{
    m_shadow->onDelayedShowTimer();
}

void ViewerWindow::resizeEvent(QResizeEvent *)
{
    m_shadow->onDelayedShowTimer();
}

void ViewerWindow::showEvent(QShowEvent *)
{
    m_shadow->onDelayedShowTimer();
}

void ViewerWindow::hideEvent(QHideEvent *)
{
    m_shadow->hide();
}

void ViewerWindow::paintEvent(QPaintEvent *)
{
    // The thin edge around the frameless window, where it resizes.
    QPainter painter(this);
    painter.fillRect(rect(), EdgeColour);
}

} // namespace viewer
