#include "RawPlugin.h"

#include "RawFile.h"
#include "RawIOHandler.h"

RawPlugin::RawPlugin(QObject *parent) : QImageIOPlugin(parent) {}

QStringList RawPlugin::keys() const
{
    return raw::rawSuffixes();
}

QImageIOPlugin::Capabilities RawPlugin::capabilities(QIODevice *device,
                                                     const QByteArray &format) const
{
    if (keys().contains(QString::fromLatin1(format)) || format == "tif" || format == "tiff")
        return CanRead;
    if (!format.isEmpty() || !device || !device->isOpen() || !device->isReadable()) return {};
    // A throw-away handler tries to open the device; nothing of it is kept.
    return RawIOHandler::canRead(device) ? CanRead : Capabilities();
}

QImageIOHandler *RawPlugin::create(QIODevice *device, const QByteArray &format) const
{
    auto *handler = new RawIOHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}

// The moc output is compiled here so that the library's copy of this file can be built as
// a static plug-in while the installable module builds the same file as a shared one.
#include "moc_RawPlugin.cpp"
