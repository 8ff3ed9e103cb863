#pragma once

#include <QPointF>
#include <QSharedPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class ImageWrapper;
class ViewerRenderCache;

namespace viewer {

// Shows one picture: fitted or at a zoom of its own, panned by dragging, zoomed around a
// point, animations played with their own delays. Painting goes through
// ImageWrapper::paint with a render cache thread of the picture's own; very large pictures
// bring their clip tiles. A picture that cannot be shown leaves a message in its place.
class PictureView : public QWidget
{
    Q_OBJECT
public:
    explicit PictureView(QWidget *parent = nullptr);
    ~PictureView() override;

    // Shows `picture` once it is ready (its imageReady() arrives); null clears the view.
    void setPicture(const QSharedPointer<ImageWrapper> &picture, const QString &name);
    // Shows `message` in place of a picture.
    void setMessage(const QString &name, const QString &message);
    QSharedPointer<ImageWrapper> picture() const { return m_picture; }
    QString name() const { return m_name; }
    QString message() const { return m_message; }
    bool isShowingPicture() const;

    // Runs `edit` on the picture (a turn, a save) while no render cache thread reads it,
    // then lays the picture out again, keeping the zoom mode.
    void editPicture(const std::function<void(ImageWrapper *)> &edit);

    void fitToView();
    void showActualSize();
    // Zooms by `factor`, keeping the picture point under `anchor` (view coordinates) still.
    void zoomAt(double factor, const QPointF &anchor);
    void panBy(const QPointF &delta);
    bool isFitted() const { return m_fit; }
    double scale() const { return m_scale; }
    int frame() const { return m_frame; }
    // Clip tiles still being decoded for the current view.
    int tilesLoading() const;

signals:
    // After every paint that showed the picture (or its message).
    void painted(const QString &name, int frame, double scale);
    // An animation moved on to `frame`.
    void frameShown(const QString &name, int frame);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private slots:
    void onImageReady();
    void nextFrame();

private:
    // The picture's size as shown (turned for orientations 5-8).
    QSize shownSize() const;
    QRect targetRect() const;
    // Keeps the picture centred where it is smaller than the view, and the view covered
    // where it is larger.
    void clampOffset();
    void startPicture();
    void stopPicture();
    void startCache();

    QSharedPointer<ImageWrapper> m_picture;
    std::unique_ptr<ViewerRenderCache> m_cache;
    QString m_name;
    QString m_message;
    bool m_ready = false;
    bool m_fit = true;
    double m_scale = 1.0;
    QPointF m_offset; // the picture's top-left corner in view coordinates
    int m_frame = 0;
    QTimer m_animation;
    QPoint m_dragFrom;
    bool m_dragging = false;
};

} // namespace viewer
