#include "platform/decoders/ReaderPlugin.h"

#include "platform/decoders/ReaderTable.h"

using platform::decoders::readerForKey;

PicsageReaderPlugin::PicsageReaderPlugin(QObject *parent) : QImageIOPlugin(parent) {}

QImageIOPlugin::Capabilities PicsageReaderPlugin::capabilities(QIODevice *,
                                                               const QByteArray &format) const
{
    return readerForKey(format) ? CanRead : Capabilities();
}

QImageIOHandler *PicsageReaderPlugin::create(QIODevice *device, const QByteArray &format) const
{
    const platform::decoders::ReaderRow *row = readerForKey(format);
    if (!row) return nullptr;
    QImageIOHandler *handler = row->create();
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}

// The moc output is compiled here, where QT_STATICPLUGIN is defined for it.
#include "moc_ReaderPlugin.cpp"
