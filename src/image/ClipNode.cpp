#include "image/ClipNode.h"

#include "image/PixmapClipRoot.h"
#include "platform/PictureReaders.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <system_error>

namespace {

// The picture file, read until the loader is cut off: a decode then runs out of data at
// once instead of finishing a tile nobody will see.
class CancellableFile : public QFile
{
public:
    CancellableFile(const QString &path, const std::atomic<bool> *cancelled)
        : QFile(path), m_cancelled(cancelled)
    {
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_cancelled->load()) return -1;
        return QFile::readData(data, maxSize);
    }

private:
    const std::atomic<bool> *m_cancelled;
};

constexpr int HalfTile = ClipNode::TileSide / 2;

} // namespace

ClipLoader::ClipLoader(ClipNode *node, const QString &path, double scale, const QRect &rect)
    : m_node(node), m_path(path), m_scale(scale), m_rect(rect)
{
}

ClipLoader::~ClipLoader()
{
    detach();
    wait();
}

bool ClipLoader::start()
{
    wait();
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        return false; // no thread to be had now (a process limit)
    }
    return true;
}

void ClipLoader::wait()
{
    if (m_thread.joinable()) m_thread.join();
}

void ClipLoader::detach()
{
    m_cancelled.store(true);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_node = nullptr;
}

void ClipLoader::run()
{
    QImage image;
    {
        CancellableFile file(m_path, &m_cancelled);
        if (file.open(QIODevice::ReadOnly)) {
            QImageReader reader(&file);
            const bool chosen =
                platform::pictureReaders::prepare(reader, QFileInfo(m_path).suffix());
            const QSize size = chosen ? reader.size() : QSize();
            if (size.isValid() && !size.isEmpty()) {
                const QSize scaled(int(size.width() * m_scale), int(size.height() * m_scale));
                // Edge tiles end at the picture's last column and row.
                const QRect clip = m_rect.intersected(QRect(QPoint(0, 0), scaled));
                if (!clip.isEmpty()) {
                    reader.setScaledSize(scaled);
                    reader.setScaledClipRect(clip);
                    image = reader.read();
                }
            }
        }
    }
    if (m_cancelled.load()) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_node) m_node->deliver(image);
}

ClipNode::ClipNode(PixmapClipRoot *root, ClipNode *parent, const QString &path, int level, int col,
                   int row)
    : m_path(path), m_level(level), m_col(col), m_row(row), m_root(root), m_parent(parent)
{
}

ClipNode::~ClipNode()
{
    for (ClipNode *child : m_children)
        delete child;
    // The loader's destructor cuts it off and waits: no thread outlives the node it writes to.
    delete m_loader;
}

QRectF ClipNode::tileRect(double scale) const
{
    const double side = double(qint64(1) << m_level) * scale * TileSide;
    return QRectF(side * m_col, side * m_row, side, side);
}

void ClipNode::paint(QPainter *painter, const QRectF &visible, double scale)
{
    if (m_level == 0 || 1.0 / double(qint64(1) << m_level) > scale) {
        const QRectF target = tileRect(scale);
        if (!target.intersects(visible)) return;
        const int state = m_state.load();
        if (state == Idle) {
            startLoader();
            paintSubstitute(painter, scale, target);
            return;
        }
        if (state == Ready) {
            // The loader's thread has delivered and is ending: it is joined here rather than
            // left holding its stack until the tree goes.
            if (m_loader) m_loader->wait();
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_image.isNull()) return;
            // Edge tiles are narrower or lower than a full tile.
            const QRectF drawn(target.topLeft(),
                               QSizeF(target.width() * m_image.width() / TileSide,
                                      target.height() * m_image.height() / TileSide));
            painter->save();
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(drawn, m_image);
            painter->restore();
            return;
        }
        paintSubstitute(painter, scale, target);
        return;
    }
    for (int i = 0; i < 4; ++i) {
        if (!m_children[i])
            m_children[i] = new ClipNode(m_root, this, m_path, m_level - 1, 2 * m_col + (i & 1),
                                         2 * m_row + (i >> 1));
    }
    for (ClipNode *child : m_children) {
        if (child->tileRect(scale).intersects(visible)) child->paint(painter, visible, scale);
    }
}

void ClipNode::paintSubstitute(QPainter *painter, double scale, const QRectF &target)
{
    if (m_parent) {
        m_parent->paintPart(
            painter, QRectF((m_col % 2) * HalfTile, (m_row % 2) * HalfTile, HalfTile, HalfTile),
            scale, target);
    } else {
        m_root->paintBase(painter, m_col, m_row, scale, m_level, target);
    }
}

void ClipNode::paintPart(QPainter *painter, const QRectF &source, double scale,
                         const QRectF &target)
{
    if (m_state.load() == Ready) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_image.isNull()) return;
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        // A source reaching past an edge tile's pixels is cut, the target with it.
        painter->drawImage(target, m_image, source);
        painter->restore();
    } else if (m_parent) {
        m_parent->paintPart(painter,
                            QRectF(source.x() / 2 + (m_col % 2) * HalfTile,
                                   source.y() / 2 + (m_row % 2) * HalfTile, source.width() / 2,
                                   source.height() / 2),
                            scale, target);
    } else {
        m_root->paintWholeBase(painter, scale, target);
    }
}

void ClipNode::startLoader()
{
    if (!m_loader) {
        m_loader = new ClipLoader(this, m_path, 1.0 / double(qint64(1) << m_level),
                                  QRect(m_col * TileSide, m_row * TileSide, TileSide, TileSide));
    }
    // A failed decode sets the node idle just before its thread ends: that thread is done
    // with first, and the node is loading before the next can deliver.
    m_loader->wait();
    m_state.store(Loading);
    // Without a thread the tile stays idle, and the next paint tries again.
    if (!m_loader->start()) m_state.store(Idle);
}

void ClipNode::deliver(const QImage &image)
{
    if (m_state.load() != Loading) return;
    if (image.isNull()) {
        m_state.store(Idle); // the next paint tries again
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_image = image;
    }
    m_state.store(Ready);
    emit m_root->onUpdate();
}

void ClipNode::detachLoaders()
{
    if (m_loader) m_loader->detach();
    for (ClipNode *child : m_children) {
        if (child) child->detachLoaders();
    }
}

void ClipNode::waitForLoaders()
{
    if (m_loader) m_loader->wait();
    for (ClipNode *child : m_children) {
        if (child) child->waitForLoaders();
    }
}

int ClipNode::loadingCount() const
{
    int count = m_state.load() == Loading ? 1 : 0;
    for (ClipNode *child : m_children) {
        if (child) count += child->loadingCount();
    }
    return count;
}
