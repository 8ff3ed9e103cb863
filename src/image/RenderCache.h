#pragma once

#include "picsage_global.h"
#include "platform/Semaphore.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QThread>

#include <atomic>

class QPainter;

// The viewer's cache of a smooth rendering of a zoomed-out picture. The viewer owns the
// object and its thread loop (run()); the picture back-end draws from it through draw().
//
// Hand-over: the drawing side stores a new request only while it holds the one permit of
// `lock`, then wakes the thread. The thread renders the request (ImageWrapper::paintCache),
// puts the image in place, releases `lock` and emits onUpdate(). Request and image are
// therefore only touched by whoever holds the permit.
class PICSAGE_EXPORT RenderCache : public QThread
{
    Q_OBJECT
public:
    // What the cached image was (or is being) rendered for.
    struct Request
    {
        QRect target;
        QSize view;
        long orientation = 1;
        int frame = -1;

        bool operator==(const Request &other) const
        {
            return target == other.target && view == other.view &&
                   orientation == other.orientation && frame == other.frame;
        }
        bool operator!=(const Request &other) const { return !(*this == other); }
    };

    // Requests closer together than this are taken as zooming or scrolling in progress.
    static constexpr qint64 SettleMs = 100;

    explicit RenderCache(QObject *parent = nullptr);
    ~RenderCache() override;

    // The drawing side, on the GUI thread: draws the cached image for (target, view,
    // orientation, frame) at the top-left of target ∩ (0, 0, view), or stores the request
    // for the thread. Returns whether it drew.
    bool draw(QPainter *painter, const QRect &target, const QSize &view, long orientation,
              int frame);

Q_SIGNALS:
    // A new image is in place.
    void onUpdate();

protected:
    // Milliseconds on the cache's own clock.
    qint64 now() const { return m_clock.elapsed(); }

    Request m_request;
    QImage m_image;
    platform::Semaphore m_lock{1};
    platform::Semaphore m_wake{0};
    QList<qint64> m_requestTimes;
    // Kept by the thread: set, a changed request is taken at once even while requests come
    // quickly.
    std::atomic<bool> m_flag{false};

private:
    QElapsedTimer m_clock;
};
