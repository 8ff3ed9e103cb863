#pragma once

#include <QImageIOPlugin>

// Makes our own readers (decoders/ReaderTable.cpp) known to QImageReader under their own
// names ("picsage-bmp", ...). It claims nothing by content: which reader opens a file is
// decided by platform/PictureReaders, which then names the reader explicitly.
class PicsageReaderPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "readers.json")
public:
    explicit PicsageReaderPlugin(QObject *parent = nullptr);

    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device,
                            const QByteArray &format = QByteArray()) const override;
};
