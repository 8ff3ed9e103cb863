#pragma once

#include "image/RenderCache.h"

#include <QSharedPointer>

#include <atomic>

class ImageWrapper;

// The viewer's render cache for one picture: a thread that waits for a request from the
// drawing side, renders it smoothly with ImageWrapper::paintCache, puts the image in place,
// releases the lock and announces it with onUpdate().
class ViewerRenderCache : public RenderCache
{
    Q_OBJECT
public:
    explicit ViewerRenderCache(QSharedPointer<ImageWrapper> image, QObject *parent = nullptr);
    // Stops the thread and waits for it.
    ~ViewerRenderCache() override;

    void stop();
    // The next changed request is taken at once, even while requests come quickly.
    void takeNextRequestAtOnce() { m_flag.store(true); }
    // How many renderings the thread has finished.
    int renderCount() const { return m_renders.load(); }

protected:
    void run() override;

private:
    QSharedPointer<ImageWrapper> m_picture;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_renders{0};
    // Released by the thread as the last thing it does: stop() hands over through it, where
    // QThread::wait() hands over inside Qt, out of ThreadSanitizer's sight.
    platform::Semaphore m_ended{0};
};
