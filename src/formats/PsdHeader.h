#pragma once

#include <QIODevice>

namespace psd {

enum ColourMode : quint16 {
    Bitmap = 0,
    Grayscale = 1,
    Indexed = 2,
    Rgb = 3,
    Cmyk = 4,
    Multichannel = 7,
    Duotone = 8,
    Lab = 9,
};

// The fixed 26 bytes at the start of a document.
struct PsdHeader
{
    static constexpr int kSize = 26;

    quint16 version = 0; // 1 = PSD, 2 = PSB (large document)
    quint16 channels = 0;
    quint32 height = 0;
    quint32 width = 0;
    quint16 depth = 0; // bits per sample
    quint16 mode = 0;  // ColourMode

    bool isPsb() const { return version == 2; }
    // Bytes of one channel's plane, rounded down as the format's writers compute it.
    quint64 planeBytes() const { return quint64(depth) * width * height / 8; }
    // Channels, sides, depth and mode within what the format allows.
    bool isValid() const;

    // What makes a file a Photoshop document: "8BPS" and version 1 or 2 in its first
    // kSignatureSize bytes. The decoder, the preview and the plug-in all ask this.
    static constexpr int kSignatureSize = 6;
    static int signatureVersion(const char *data, qint64 size); // 1, 2, or 0 for none
    static int peekSignature(QIODevice *device);                // the same, nothing consumed

    // Parses the first kSize bytes; true when they hold the signature. No other field is
    // checked.
    static bool parse(const char *data, qint64 size, PsdHeader *header);
    // The same on the device's next bytes, which stay unread.
    static bool peek(QIODevice *device, PsdHeader *header);
};

} // namespace psd
