#pragma once

#include "picsage_global.h"

#include <QImageIOPlugin>

// Makes camera raw files readable through QImageReader, by their embedded previews.
class PICSAGE_EXPORT RawPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "raw.json")
public:
    explicit RawPlugin(QObject *parent = nullptr);

    QStringList keys() const;
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device,
                            const QByteArray &format = QByteArray()) const override;
};
