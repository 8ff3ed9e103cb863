#include "host/viewer/PictureLoader.h"

#include "image/ImageWrapper.h"

namespace viewer {

PictureLoader::PictureLoader(QObject *parent) : QObject(parent), m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("picture loader"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

PictureLoader::~PictureLoader()
{
    m_thread.quit();
    m_thread.wait();
    // The thread has ended: deleting the worker here drops the loads still queued for it.
    delete m_worker;
}

void PictureLoader::load(const QSharedPointer<ImageWrapper> &picture)
{
    if (!picture) return;
    QSharedPointer<ImageWrapper> held = picture;
    QMetaObject::invokeMethod(m_worker, [this, held]() mutable {
        held->load();
        // Let go of the picture on the GUI thread, where it was made.
        QMetaObject::invokeMethod(
            this, [held]() mutable { held.reset(); }, Qt::QueuedConnection);
        held.reset();
    });
}

} // namespace viewer
