#pragma once

#include "PsdBlend.h"
#include "PsdHeader.h"
#include "PsdLayerChannel.h"
#include "PsdRowConverter.h"
#include "PsdSections.h"
#include "PsdStream.h"

#include <QImage>

#include <memory>
#include <vector>

namespace psd {

class PsdLayerMaker;

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
    // Channel slots: 0-3 colour (red, green, blue; gray uses 0; CMYK and Lab their inks and
    // components), then transparency and the user mask.
    enum { Colours = 4, Transparency = 4, UserMask = 5, Slots = 6 };

    Kind kind = Pixels;
    LayerRect bounds;
    LayerChannel channels[Slots];
    bool channelsFit = true;    // every channel the record lists lies inside the layer section
    quint32 blendMode = 0;      // four characters, "norm" for normal
    quint32 groupBlendMode = 0; // a group's own mode from its divider block ("pass" through)
    quint8 opacity = 255;
    quint8 fillOpacity = 255;
    bool clipped = false; // clipped to the nearest unclipped layer below
    bool hidden = false;
    bool blendClippedAsGroup = true;   // the clipped layers take this base's mode and opacity
    bool blendInteriorAsGroup = false; // effects inside take the fill opacity (for effects)
    bool knockout = false;             // the layer punches through the layers of its group
    LayerRect maskRect;
    quint8 maskDefault = 255;
    bool maskEnabled = false;
    bool artboard = false; // a group that is an artboard, drawn on its background colour
    QRgb artboardColour = 0;
    std::vector<TaggedBlock> blocks; // every tagged block the record holds, in file order
    // Where the mask record lies (its key unused), and channel -3: the user's own mask
    // when channel -2 holds a rendered vector mask. PsdLayerMaker::resolveMasks reads them.
    TaggedBlock maskData;
    LayerChannel realUserMask;
    quint8 maskDensity = 255; // how much the user mask hides, 255 fully
    double maskFeather = 0;   // its blur radius in pixels
};

// Composes the layers of a document saved without a usable merged picture: RGB, grayscale,
// duotone (as gray), CMYK and Lab documents of 8, 16 or 32 bits, with layers in the layer
// section or, for 16 and 32 bits, in its Lr16 or Lr32 block. Channels may be raw,
// run-length, zip or zip with prediction; colours become RGB as the merged picture's do.
//
// Layers are drawn bottom to top with every blend mode, their opacity, fill opacity, layer
// mask, knockout and clipping (to any base, a group too; clipped layers blend as a group with
// their base unless the base says otherwise). Groups that pass through draw their members
// straight onto what is below, scaled by the group's opacity; other groups compose into a
// buffer of their own, which then blends onto what is below with the group's mode, opacity
// and mask. Artboards are drawn on their background colour. Fill layers make their pixels
// from their settings and adjustment layers from what lies below them (PsdLayerMaker);
// vector masks and layer effects apply to every layer (effects in RGB and grey documents).
//
// Memory: the canvas, one layer at a time (four bytes and two a pixel of its visible part),
// and one buffer per open group or clipping group that composes on its own, at most
// kMaxIsolatedDepth of them, each the size of what its members cover.
//
// Not drawn: hidden layers and the members of hidden groups, layers without pixels or
// settings, and channels that claim more than the file holds.
class PsdLayerComposer
{
public:
    PsdLayerComposer(QIODevice *device, const PsdHeader &header, const PsdSection &layers);

    // Documents whose layers this reads.
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
    // The stack as a tree: a node is a layer or a group with its members, bottom first.
    struct Node
    {
        int record = -1; // -1 for the document itself
        std::vector<int> children;
        LayerRect extent; // what its visible members may cover, on the canvas
    };
    // Pixels that a layer, a group or a clipping group draws into: 0xAARRGGBB, not
    // premultiplied, over a rectangle of the document.
    struct Surface
    {
        LayerRect rect;
        QRgb *pixels = nullptr;
        qint64 stride = 0; // pixels between rows
        QRgb *row(qint64 y) const { return pixels + (y - rect.top) * stride; }
    };
    // How a node is drawn onto its target beyond what its own record says.
    struct Context
    {
        int opacity = 255;               // the pass-through groups around it
        int depth = 0;                   // buffers open around it
        bool atop = false;               // clipped to the base drawn below it in the target
        const Surface *clipTo = nullptr; // clipped to this base's alpha ...
        int clipOpacity = 255;           // ... times this
        bool asBase = false;             // drawn as a clipping base: normal, full opacity
    };

    bool findLayerInfo(quint64 *start, quint64 *end);
    bool readRecord(quint64 end, LayerRecord *record, quint64 *channelBytes);
    void readExtraData(quint64 end, LayerRecord *record);
    void readArtboard(const TaggedBlock &block, LayerRecord *record);
    void resolveGroups();
    LayerRect extentOf(int node, int depth);

    void drawList(const std::vector<int> &nodes, Surface &target, const Context &context);
    void drawNode(int node, Surface &target, const Context &context);
    void drawGroup(int node, Surface &target, const Context &context);
    void drawClippingGroup(int base, const std::vector<int> &clipped, Surface &target,
                           const Context &context);
    void drawLayer(const LayerRecord &record, Surface &target, const Context &context);
    // Where an adjustment layer will change the canvas below it; today it changes nothing.
    void drawAdjustment(const LayerRecord &record, Surface &target, const Context &context);
    // Blends a finished buffer onto the target.
    void blendSurface(const Surface &source, Surface &target, SpanBlend how, const Context &context,
                      const std::vector<uchar> *mask);
    void blendRows(const SpanBlend &how, const Surface &source, const uchar *coverage,
                   qint64 coverageStride, Surface &target, const Context &context);
    void clearCanvas();

    // The source of a layer's pixels over `window` (inside its bounds): its channels
    // decoded and made RGB, alpha times its mask. False when it has none to draw.
    bool layerPixels(const LayerRecord &record, const LayerRect &window, std::vector<QRgb> *pixels);
    // The pixels of a fill or adjustment layer, from its settings, through its user mask.
    bool madePixels(const LayerRecord &record, const PsdLayerMaker &maker, const LayerRect &window,
                    const Surface &target, std::vector<QRgb> *pixels);
    // A record's user mask over window, 255 where it shows; false when it has none.
    bool layerMask(const LayerRecord &record, const LayerRect &window, std::vector<uchar> *mask);

    PsdStream m_stream;
    PsdHeader m_header;
    PsdSection m_layers;
    LayerChannelReader m_channels;
    std::vector<LayerRecord> m_records;
    std::vector<Node> m_nodes; // m_nodes[0] is the document
    std::unique_ptr<RowConverter> m_converter;
    QImage *m_canvas = nullptr;
    bool m_cleared = false;
    int m_drawn = 0;
};

// True when every pixel is opaque white, or every pixel is fully transparent: what a
// document saved without its merged picture holds in its place.
bool isBlankPicture(const QImage &picture);

} // namespace psd
