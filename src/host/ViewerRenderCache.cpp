#include "host/ViewerRenderCache.h"

#include "image/ImageWrapper.h"

ViewerRenderCache::ViewerRenderCache(QSharedPointer<ImageWrapper> image, QObject *parent)
    : RenderCache(parent), m_picture(std::move(image))
{
}

ViewerRenderCache::~ViewerRenderCache()
{
    stop();
}

void ViewerRenderCache::stop()
{
    if (!isRunning()) return;
    m_stop.store(true);
    m_wake.release();
    m_ended.acquire();
    wait();
}

void ViewerRenderCache::run()
{
    for (;;) {
        m_wake.acquire();
        if (m_stop.load()) {
            m_ended.release();
            return;
        }
        // The drawing side holds the lock's permit from storing the request until it is
        // released below, so the request and the image are ours meanwhile.
        const Request request = m_request;
        QImage rendered;
        if (m_picture)
            m_picture->paintCache(rendered, request.frame, request.target, request.orientation,
                                  request.view);
        m_image = rendered;
        m_renders.fetch_add(1);
        m_lock.release();
        emit onUpdate();
    }
}
