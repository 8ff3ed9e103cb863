#pragma once

#include "host/viewer/PictureLoader.h"

#include <QFileSystemWatcher>
#include <QSharedPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class ImageDirectory;
class ImageWrapper;

namespace host {
class VuShadowBorder;
}

namespace viewer {

class CaptionBar;
class PictureView;

// The viewer's frameless, skinned window: the caption band, the picture, the window shadow
// around it, the keys and the wheel, and the folder it steps through (followed while files
// come and go). With reporting on, what it does is written to standard output one line at a
// time ("painted NAME", "title ...", "saved PATH", ...), for tests and scripts.
class ViewerWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ViewerWindow(const QString &skinsDirectory, QWidget *parent = nullptr);
    ~ViewerWindow() override;

    // A picture file (its folder is stepped through) or a folder (from its first picture).
    void open(const QString &path);
    void setReporting(bool on) { m_reporting = on; }
    void report(const QString &line);

    PictureView *view() const { return m_view; }
    host::VuShadowBorder *shadow() const { return m_shadow.get(); }
    QString currentName() const { return m_current; }

    void step(int offset);
    void turn(bool clockwise);
    void save();
    void saveAs();
    void exportPicture();
    void flip(bool horizontal);
    void trashCurrent();
    void showSkinMenu();
    bool applySkin(const QString &name);

signals:
    // Every line that reporting would write, whether or not reporting is on.
    void reported(const QString &line);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void showName(const QString &name);
    void showNothing(const QString &message);
    void updateTitle();
    void rescanFolder();
    // The window edges under `pos` (window coordinates) that a press there would resize.
    Qt::Edges edgesAt(const QPoint &pos) const;
    QPointF zoomAnchor() const;
    void reportZoom();
    QString siblingPath(const QString &tag, const QString &suffix) const;
    QStringList skinNames() const;

    QString m_skinsDirectory;
    QSharedPointer<ImageDirectory> m_folder;
    QString m_folderPath;
    QString m_current;
    QString m_lastPainted;
    CaptionBar *m_caption;
    PictureView *m_view;
    std::unique_ptr<host::VuShadowBorder> m_shadow;
    PictureLoader m_loader;
    QFileSystemWatcher m_watcher;
    QTimer m_rescan;
    bool m_reporting = false;
    bool m_lastTurnClockwise = true;
};

} // namespace viewer
