// The peer of picsage-viewer's start in bench-open: the plainest Qt picture viewer. It
// opens a window, reads the picture with QImageReader (whole, or with --scaled-read at the
// window's size, as a careful Qt viewer would), paints it fitted and smooth, and ends after
// that first paint, writing the time since its start to standard error as the viewer does.
//
//   bench-viewer-peer [--scaled-read] FILE

#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

class PeerView : public QWidget
{
public:
    PeerView(const QString &path, bool scaledRead, const QElapsedTimer &clock)
        : m_path(path), m_scaledRead(scaledRead), m_clock(clock)
    {
        resize(960, 680);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_image.isNull()) {
            QImageReader reader(m_path);
            reader.setAutoTransform(true);
            if (m_scaledRead && reader.size().isValid())
                reader.setScaledSize(reader.size().scaled(size(), Qt::KeepAspectRatio));
            m_image = reader.read();
            if (m_image.isNull()) {
                std::fprintf(stderr, "%s\n", qPrintable(reader.errorString()));
                QCoreApplication::exit(2);
                return;
            }
        }
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0x30, 0x30, 0x30));
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize shown = m_image.size().scaled(size(), Qt::KeepAspectRatio);
        painter.drawImage(
            QRect(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown),
            m_image);
        painter.end();
        if (m_done) return;
        m_done = true;
        std::fprintf(stderr, "first-paint-ms %.1f\n", m_clock.nsecsElapsed() / 1e6);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

private:
    QString m_path;
    bool m_scaledRead;
    const QElapsedTimer &m_clock;
    QImage m_image;
    bool m_done = false;
};

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    const bool scaledRead = argc > 2 && !std::strcmp(argv[1], "--scaled-read");
    if (argc < 2 || (argc > 2 && !scaledRead)) {
        std::fprintf(stderr, "usage: bench-viewer-peer [--scaled-read] FILE\n");
        return 1;
    }
    QApplication app(argc, argv);
    PeerView view(QString::fromLocal8Bit(argv[argc - 1]), scaledRead, clock);
    view.show();
    return app.exec();
}
