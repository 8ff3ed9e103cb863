#include "image/RenderCache.h"

#include <QPainter>

RenderCache::RenderCache(QObject *parent) : QThread(parent)
{
    m_clock.start();
}

RenderCache::~RenderCache() = default;

bool RenderCache::draw(QPainter *painter, const QRect &target, const QSize &view, long orientation,
                       int frame)
{
    const Request request{target, view, orientation, frame};
    if (request != m_request && !m_requestTimes.isEmpty()) {
        const qint64 time = now();
        if (time - m_requestTimes.last() < SettleMs && !m_flag.load()) {
            // Still zooming or scrolling: the caller draws directly.
            m_requestTimes.append(time);
            return false;
        }
        // The request is handed over only while its permit is held: the thread may be
        // rendering the previous one, and must not see it change under its feet.
        if (!m_lock.tryAcquire()) return false;
        m_request = request;
        if (m_wake.available() == 0) m_wake.release();
        m_requestTimes.clear();
        m_flag.store(false);
        m_requestTimes.append(time);
        return false;
    }
    if (m_requestTimes.isEmpty()) {
        // The very first request.
        if (!m_lock.tryAcquire()) return false;
        m_request = request;
        if (m_wake.available() == 0) m_wake.release();
        m_requestTimes.append(now());
        return false;
    }
    if (!m_lock.tryAcquire()) return false;
    bool drew = false;
    if (!m_image.isNull()) {
        const QRect area = target.intersected(QRect(QPoint(0, 0), view));
        painter->drawImage(area.topLeft(), m_image);
        drew = true;
    }
    m_lock.release();
    return drew;
}
