#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QThread>

class ImageWrapper;

namespace viewer {

// The viewer's loading thread: pictures are loaded there one after the other with
// ImageWrapper::load(), which emits imageReady() from this thread when it is done. The last
// reference a load holds is handed back to the GUI thread, so that a picture is always
// destroyed on the thread that owns it.
class PictureLoader : public QObject
{
    Q_OBJECT
public:
    explicit PictureLoader(QObject *parent = nullptr);
    // Waits for the load in progress; loads still queued are dropped.
    ~PictureLoader() override;

    void load(const QSharedPointer<ImageWrapper> &picture);

private:
    QThread m_thread;
    // Lives on m_thread; the queued loads are calls on it.
    QObject *m_worker;
};

} // namespace viewer
