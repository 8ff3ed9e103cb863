#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

class ClipNode;
class PixmapClipRoot;
class QPainter;

// Decodes one tile of a very large picture on a thread of its own: the picture scaled by
// 1/2^level, clipped to the tile, straight from the file.
//
// The thread is a std::thread rather than a QThread: starting and joining it are the
// hand-overs of the loader's own data, and the thread library's are ones ThreadSanitizer
// sees (QThread::wait() hands over inside Qt, where it cannot). start(), wait() and the
// destructor belong to the thread that owns the node (the GUI thread).
class ClipLoader
{
public:
    ClipLoader(ClipNode *node, const QString &path, double scale, const QRect &rect);
    // Cuts the loader off and waits for its thread.
    ~ClipLoader();
    ClipLoader(const ClipLoader &) = delete;
    ClipLoader &operator=(const ClipLoader &) = delete;

    // Runs run() on a new thread, at the caller's priority; a thread of an earlier start
    // that is still ending is waited for first. False when no thread could be started.
    bool start();
    // Blocks until the thread of the last start() has ended (at once when there is none).
    void wait();
    // Cuts the loader off its node: a decode still running stops reading the file and its
    // result is thrown away. Called before the node goes away.
    void detach();

private:
    void run();

    // std::mutex rather than QMutex: its hand-over is visible to ThreadSanitizer.
    std::mutex m_mutex; // guards m_node
    ClipNode *m_node;
    const QString m_path;
    const double m_scale;
    const QRect m_rect;
    std::atomic<bool> m_cancelled{false};
    std::thread m_thread;
};

// One tile of the tree: level L covers 2048 * 2^L picture pixels square and is decoded at
// 1/2^L, so a decoded tile is at most 2048 x 2048 pixels.
class ClipNode
{
public:
    enum State { Idle = 0, Loading = 1, Ready = 2 };
    static constexpr int TileSide = 2048;

    ClipNode(PixmapClipRoot *root, ClipNode *parent, const QString &path, int level, int col,
             int row);
    ~ClipNode();
    ClipNode(const ClipNode &) = delete;
    ClipNode &operator=(const ClipNode &) = delete;

    void paint(QPainter *painter, const QRectF &visible, double scale);
    // Draws `source` (in this tile's pixels) into `target`, from the nearest ready ancestor.
    void paintPart(QPainter *painter, const QRectF &source, double scale, const QRectF &target);

    // The tile's square at `scale`, in the painter's coordinates (the picture's top-left at 0).
    QRectF tileRect(double scale) const;

    int state() const { return m_state.load(); }
    int level() const { return m_level; }
    int col() const { return m_col; }
    int row() const { return m_row; }
    ClipNode *parent() const { return m_parent; }
    // Child i (0..3), null until a finer zoom created it.
    ClipNode *child(int i) const { return m_children[i]; }
    bool hasLoader() const { return m_loader != nullptr; }
    // Detaches the loaders of this node and of every node below it.
    void detachLoaders();
    // Waits for the loaders of this node and of every node below it.
    void waitForLoaders();
    // Loading tiles of this node and below.
    int loadingCount() const;

private:
    friend class ClipLoader;
    // Loader side: the result of a decode; a null image returns the node to idle.
    void deliver(const QImage &image);
    void startLoader();
    void paintSubstitute(QPainter *painter, double scale, const QRectF &target);

    // Written by the loader, read by the GUI thread without the node's mutex.
    std::atomic<int> m_state{Idle};
    const QString m_path;
    QImage m_image; // the decoded tile, guarded by m_mutex
    const int m_level, m_col, m_row;
    PixmapClipRoot *const m_root;
    ClipNode *m_children[4] = {nullptr, nullptr, nullptr, nullptr};
    ClipNode *const m_parent;
    ClipLoader *m_loader = nullptr;
    std::mutex m_mutex; // guards m_image
};
