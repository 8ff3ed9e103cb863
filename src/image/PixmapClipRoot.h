#pragma once

#include "picsage_global.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

class ClipNode;
class QPainter;

// The tile tree over a very large picture in clip mode. The top level is a single row or a
// single column of tiles, coarse enough that the whole picture fits in a few of them; finer
// tiles are created as the zoom asks for them and decoded by ClipLoader threads. Until a
// tile is ready, its parent's quarter, or the reduced decode `base`, stands in.
class PICSAGE_EXPORT PixmapClipRoot : public QObject
{
    Q_OBJECT
public:
    PixmapClipRoot(const QString &path, const QSize &originalSize, const QImage &base,
                   QObject *parent);
    // Stops and waits for the loaders still running before the nodes go.
    ~PixmapClipRoot() override;

    // The painter is translated to the top-left of the whole picture's target; `visible` is
    // the on-screen part in the same coordinates; scale is screen pixels per picture pixel.
    void paint(QPainter *painter, const QRect &visible, double scale);
    // Draws this top-level tile's part of the reduced decode into `target`.
    void paintBase(QPainter *painter, int col, int row, double scale, int level,
                   const QRectF &target);
    // The reduced decode drawn over the whole picture's area at `scale`, clipped to `clip`.
    void paintWholeBase(QPainter *painter, double scale, const QRectF &clip);

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    int topLevel() const { return m_topLevel; }
    const QList<ClipNode *> &nodes() const { return m_nodes; }
    QSize originalSize() const { return m_originalSize; }
    // Tiles whose loaders have not delivered yet.
    int loadingCount() const;
    // Blocks until every loader started so far has finished (for painters that are not a
    // widget, which no onUpdate() would repaint).
    void waitForLoaders();

    // Tiles across and down at `level` for a picture of `size`.
    static QSize tileGrid(const QSize &size, int level);
    // The level whose tiles are fine enough for `scale` (never below 0, never above `top`).
    static int levelForScale(double scale, int top);

signals:
    // A tile became ready; emitted on the loader's thread.
    void onUpdate();

private:
    int m_columns = 0;
    int m_rows = 0;
    int m_topLevel = 0;
    QList<ClipNode *> m_nodes; // column-major: every row of column 0 first
    const QString m_path;
    const QImage m_base;
    const QSize m_originalSize;
    bool m_connected = false;
};
