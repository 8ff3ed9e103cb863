#pragma once

#include "picsage_global.h"

#include <QImageIOPlugin>

// Makes Photoshop documents ("psd", "psb") readable through QImageReader.
class PICSAGE_EXPORT QPsdPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "psd.json")
public:
    explicit QPsdPlugin(QObject *parent = nullptr);

    QStringList keys() const;
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device,
                            const QByteArray &format = QByteArray()) const override;
};
