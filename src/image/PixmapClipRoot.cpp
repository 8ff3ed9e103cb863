#include "image/PixmapClipRoot.h"

#include "image/ClipNode.h"

#include <QPainter>
#include <QWidget>

namespace {

int ceilDiv(qint64 value, qint64 divisor)
{
    return int((value + divisor - 1) / divisor);
}

} // namespace

PixmapClipRoot::PixmapClipRoot(const QString &path, const QSize &originalSize, const QImage &base,
                               QObject *parent)
    : QObject(parent), m_path(path), m_base(base), m_originalSize(originalSize)
{
    if (originalSize.isEmpty()) return;
    m_columns = ceilDiv(originalSize.width(), ClipNode::TileSide);
    m_rows = ceilDiv(originalSize.height(), ClipNode::TileSide);
    // Halve until one row or one column is left: the top level is a strip of tiles.
    while (m_columns != 1 && m_rows != 1) {
        ++m_topLevel;
        m_columns = ceilDiv(m_columns, 2);
        m_rows = ceilDiv(m_rows, 2);
    }
    for (int col = 0; col < m_columns; ++col) {
        for (int row = 0; row < m_rows; ++row)
            m_nodes.append(new ClipNode(this, nullptr, m_path, m_topLevel, col, row));
    }
}

PixmapClipRoot::~PixmapClipRoot()
{
    // Cut every loader off first so that all of them stop reading at once, then let each
    // node wait for its own.
    for (ClipNode *node : qAsConst(m_nodes))
        node->detachLoaders();
    qDeleteAll(m_nodes);
}

void PixmapClipRoot::paint(QPainter *painter, const QRect &visible, double scale)
{
    if (!painter || scale <= 0) return;
    if (!m_connected) {
        if (QWidget *widget = dynamic_cast<QWidget *>(painter->device())) {
            // Emitted on loader threads, so Qt queues the repaint to the widget's thread.
            connect(this, &PixmapClipRoot::onUpdate, widget, QOverload<>::of(&QWidget::update));
            m_connected = true;
        }
    }
    const QRectF area(visible);
    for (ClipNode *node : qAsConst(m_nodes))
        node->paint(painter, area, scale);
}

void PixmapClipRoot::paintBase(QPainter *painter, int col, int row, double scale, int level,
                               const QRectF &target)
{
    if (m_base.isNull() || m_originalSize.isEmpty()) return;
    const int baseW = m_base.width();
    const int baseH = m_base.height();
    // The tile's side in base pixels.
    const qint64 t = qMax<qint64>(1, qint64(baseW) * (qint64(ClipNode::TileSide) << level) /
                                         m_originalSize.width());
    QRect source;
    QRectF drawn = target;
    if (m_columns == 1) {
        const qint64 top = t * row;
        const int height = int(row == m_rows - 1 ? qMax<qint64>(0, baseH - top) : t);
        source = QRect(0, int(top), baseW, height);
        drawn.setWidth(m_originalSize.width() * scale);
        if (row == m_rows - 1) drawn.setHeight(target.height() * height / double(t));
    } else {
        const qint64 left = t * col;
        const int width = int(col == m_columns - 1 ? qMax<qint64>(0, baseW - left) : t);
        source = QRect(int(left), 0, width, baseH);
        drawn.setHeight(m_originalSize.height() * scale);
        if (col == m_columns - 1) drawn.setWidth(target.width() * width / double(t));
    }
    if (source.isEmpty()) return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(drawn, m_base, source);
    painter->restore();
}

void PixmapClipRoot::paintWholeBase(QPainter *painter, double scale, const QRectF &clip)
{
    if (m_base.isNull()) return;
    painter->save();
    // Only the tile's own square: the base must not cover neighbours that are ready.
    painter->setClipRect(clip, Qt::IntersectClip);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(
        QRectF(0, 0, m_originalSize.width() * scale, m_originalSize.height() * scale), m_base);
    painter->restore();
}

int PixmapClipRoot::loadingCount() const
{
    int count = 0;
    for (ClipNode *node : m_nodes)
        count += node->loadingCount();
    return count;
}

void PixmapClipRoot::waitForLoaders()
{
    for (ClipNode *node : qAsConst(m_nodes))
        node->waitForLoaders();
}

QSize PixmapClipRoot::tileGrid(const QSize &size, int level)
{
    if (size.isEmpty() || level < 0 || level > 30) return QSize();
    const qint64 side = qint64(ClipNode::TileSide) << level;
    return QSize(ceilDiv(size.width(), side), ceilDiv(size.height(), side));
}

int PixmapClipRoot::levelForScale(double scale, int top)
{
    int level = top;
    while (level > 0 && !(1.0 / double(qint64(1) << level) > scale))
        --level;
    return level;
}
