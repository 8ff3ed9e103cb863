#pragma once

#include <QtGlobal>

// The record and object numbers of EMF+ (the GDI+ records that an enhanced metafile carries
// in its comment records), and the bounds the EMF+ player keeps to.
namespace metafile::emfplus {

constexpr quint32 CommentIdentifier = 0x2B464D45; // "EMF+" after an EMR_COMMENT's size
constexpr quint32 RecordHeaderSize = 12;          // type, flags, size, data size

enum Record : quint16 {
    Header = 0x4001,
    EndOfFile = 0x4002,
    Comment = 0x4003,
    GetDC = 0x4004,
    Object = 0x4008,
    Clear = 0x4009,
    FillRects = 0x400A,
    DrawRects = 0x400B,
    FillPolygon = 0x400C,
    DrawLines = 0x400D,
    FillEllipse = 0x400E,
    DrawEllipse = 0x400F,
    FillPie = 0x4010,
    DrawPie = 0x4011,
    DrawArc = 0x4012,
    FillRegion = 0x4013,
    FillPath = 0x4014,
    DrawPath = 0x4015,
    FillClosedCurve = 0x4016,
    DrawClosedCurve = 0x4017,
    DrawCurve = 0x4018,
    DrawBeziers = 0x4019,
    DrawImage = 0x401A,
    DrawImagePoints = 0x401B,
    DrawString = 0x401C,
    SetAntiAliasMode = 0x401E,
    SetCompositingMode = 0x4023,
    Save = 0x4025,
    Restore = 0x4026,
    BeginContainer = 0x4027,
    BeginContainerNoParams = 0x4028,
    EndContainer = 0x4029,
    SetWorldTransform = 0x402A,
    ResetWorldTransform = 0x402B,
    MultiplyWorldTransform = 0x402C,
    TranslateWorldTransform = 0x402D,
    ScaleWorldTransform = 0x402E,
    RotateWorldTransform = 0x402F,
    SetPageTransform = 0x4030,
    ResetClip = 0x4031,
    SetClipRect = 0x4032,
    SetClipPath = 0x4033,
    SetClipRegion = 0x4034,
    OffsetClip = 0x4035,
    DrawDriverString = 0x4036,
};

enum ObjectType : quint8 {
    BrushObject = 1,
    PenObject = 2,
    PathObject = 3,
    RegionObject = 4,
    ImageObject = 5,
    FontObject = 6,
    StringFormatObject = 7,
    ImageAttributesObject = 8,
};

// Flag bits shared by the drawing records.
enum RecordFlags : quint16 {
    FlagColor = 0x8000,      // S: the brush field holds a colour, not an object
    FlagContinued = 0x8000,  // an object record whose object goes on in the next record
    FlagCompressed = 0x4000, // C: 16-bit integer coordinates
    FlagAppend = 0x2000,     // A: transforms multiply after the world transform
    FlagClosed = 0x2000,     // L: a line drawing closes its figure
    FlagWinding = 0x2000,    // W: closed curves fill by the winding rule
    FlagRelative = 0x0800,   // P: each point is relative to the one before
    FlagDual = 0x0001,       // header: the GDI records draw the same picture
};

enum Unit : quint8 {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};

enum CombineMode {
    CombineReplace,
    CombineIntersect,
    CombineUnion,
    CombineXor,
    CombineExclude,
    CombineComplement
};

constexpr int ObjectSlots = 64;                      // object ids are one byte, below 64
constexpr quint32 MaxObjectBytes = 64 * 1024 * 1024; // one object assembled from pieces
constexpr int MaxSavedStates = 1024;                 // Save and BeginContainer nesting
constexpr int MaxRegionDepth = 64;                   // nested combinations of one region
constexpr int MaxNesting = 2;                        // metafiles drawn inside metafiles
constexpr quint32 MaxPoints = 1 << 20;               // points of one record or path
constexpr int MaxBlendPositions = 4096;              // gradient stops
constexpr int MaxDashes = 64;                        // dash lengths of one pen
// Bitmap pixels one playback may decode: EMF+ images stay in the object table until they
// are replaced, so all of them may be held at once (256 MiB as ARGB).
constexpr qint64 MaxImagePixels = qint64(1) << 26;

} // namespace metafile::emfplus
