#include "QPsdPlugin.h"

#include "QPsdHandler.h"

QPsdPlugin::QPsdPlugin(QObject *parent) : QImageIOPlugin(parent) {}

QStringList QPsdPlugin::keys() const
{
    return {QStringLiteral("psd"), QStringLiteral("psb")};
}

QImageIOPlugin::Capabilities QPsdPlugin::capabilities(QIODevice *device,
                                                      const QByteArray &format) const
{
    if (format == "psd" || format == "psb") return CanRead;
    if (!format.isEmpty()) return {};
    return QPsdHandler::canRead(device) ? CanRead : Capabilities();
}

QImageIOHandler *QPsdPlugin::create(QIODevice *device, const QByteArray &format) const
{
    auto *handler = new QPsdHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}

// The moc output is compiled here so that the library's copy of this file can be built as
// a static plug-in while the installable module builds the same file as a shared one.
#include "moc_QPsdPlugin.cpp"
