#pragma once

#include "PsdHeader.h"
#include "PsdSections.h"
#include "PsdStream.h"

#include <QImage>

#include <vector>

namespace psd {

// A rectangle of document coordinates as layer records store them: rows top to bottom - 1,
// columns left to right - 1. 64-bit, so that any pair of stored 32-bit edges is safe.
struct LayerRect
{
    qint64 top = 0, left = 0, bottom = 0, right = 0;

    qint64 width() const { return right > left ? right - left : 0; }
    qint64 height() const { return bottom > top ? bottom - top : 0; }
    bool isEmpty() const { return width() == 0 || height() == 0; }
    LayerRect intersected(const LayerRect &o) const
    {
        return {qMax(top, o.top), qMax(left, o.left), qMin(bottom, o.bottom), qMin(right, o.right)};
    }
};

// Where one channel of a layer lies in the file: its compression word, then its data.
struct LayerChannel
{
    quint64 start = 0;
    quint64 length = 0;   // compression word included
    bool present = false; // the record lists it and the file holds its claimed bytes
};

// One tagged block of a layer record's extra data (fill, adjustment, effect and mask
// descriptors live there): its four-character key and where its bytes lie in the file.
struct TaggedBlock
{
    quint32 key = 0;
    quint64 start = 0;
    quint64 length = 0;
};

// What a layer record says, as far as composing needs it.
struct LayerRecord
{
    enum Kind {
        Pixels,     // a layer that may carry pixels
        GroupStart, // the record of a group (open or closed folder), above its members
        GroupEnd,   // the hidden marker below a group's members
        Adjustment, // an adjustment layer: it changes what lies below, and is not drawn
    };
    // Channel slots: 0-2 colour (red, green, blue; gray uses 0), 3 transparency, 4 user mask.
    enum { Transparency = 3, UserMask = 4, Slots = 5 };

    Kind kind = Pixels;
    LayerRect bounds;
    LayerChannel channels[Slots];
    bool channelsFit = true; // every channel the record lists lies inside the layer section
    quint32 blendMode = 0;   // four characters, "norm" for normal
    quint8 opacity = 255;
    quint8 fillOpacity = 255;
    bool clipped = false; // clipped to the nearest unclipped layer below
    bool hidden = false;
    LayerRect maskRect;
    quint8 maskDefault = 255;
    bool maskEnabled = false;
    std::vector<TaggedBlock> blocks; // every tagged block the record holds, in file order
    // Where the mask record lies (its key unused), and channel -3: the user's own mask
    // when channel -2 holds a rendered vector mask. PsdLayerMaker::resolveMasks reads them.
    TaggedBlock maskData;
    LayerChannel realUserMask;
    quint8 maskDensity = 255; // how much the user mask hides, 255 fully
    double maskFeather = 0;   // its blur radius in pixels
};

// Composes the pixel layers of an 8-bit RGB or grayscale document, for documents saved
// without a usable merged picture. Layers are decoded one at a time, each clipped to the
// canvas, so the work holds the canvas, one layer (four bytes and one mask byte a pixel of
// its visible part) and, for a clipping group, its base's coverage (one byte a pixel).
//
// Drawn: pixel layers in order bottom to top, with their opacity, fill opacity, layer mask
// and clipping, and the blend modes normal, multiply, screen, overlay, darken, lighten and
// linear dodge; any other mode is drawn as normal. Not drawn: hidden layers and the members
// of hidden groups, adjustment layers, layers without pixels, and layers whose channels are
// compressed with zip or claim more bytes than the file holds. Layer effects and the blend
// modes of groups are not applied; a group's opacity scales its members'.
class PsdLayerComposer
{
public:
    PsdLayerComposer(QIODevice *device, const PsdHeader &header, const PsdSection &layers);

    // Only 8-bit RGB and grayscale documents keep their layers where this reads them.
    static bool supports(const PsdHeader &header);

    // Reads the layer records; false when the section holds none or they do not fit in it.
    bool readRecords();
    const std::vector<LayerRecord> &records() const { return m_records; }
    // Layers that compose() would try to draw.
    int visiblePixelLayers() const;

    // Draws the layers onto canvas, a Format_ARGB32 picture of the document's size, which
    // is cleared before the first layer is drawn and left untouched when none is. Returns
    // the number of layers drawn.
    int compose(QImage &canvas);

private:
    // How a layer relates to a clipping group: none, its base, or a layer clipped to it.
    enum class Clip { None, KeepCoverage, ToBase };

    bool readRecord(quint64 end, LayerRecord *record, quint64 *channelBytes);
    void readExtraData(quint64 end, LayerRecord *record);
    void resolveGroups();
    bool drawLayer(size_t index, QImage &canvas, Clip clip);

    PsdStream m_stream;
    PsdHeader m_header;
    PsdSection m_layers;
    std::vector<LayerRecord> m_records;
    std::vector<quint8> m_groupOpacity; // per record: the opacity of the groups around it

    // The coverage of the current clipping base over its visible rectangle.
    LayerRect m_baseRect;
    std::vector<uchar> m_baseCoverage;
    bool m_cleared = false; // the canvas is cleared when the first layer is drawn
};

// True when every pixel is opaque white, or every pixel is fully transparent: what a
// document saved without its merged picture holds in its place.
bool isBlankPicture(const QImage &picture);

} // namespace psd
