#include "ImageTool.h"

#include <QVector>

namespace imagetool {

const QVector<Command> &commands()
{
    static const QVector<Command> table = {
        {"info", "FILE...", "describe pictures, one JSON object per line",
         "Prints for every FILE one line of JSON with the keys path, format (the format\n"
         "table's name for the file's content), width and height (as stored), orientation\n"
         "(EXIF, 1-8), frames, exifThumbnail ({\"width\":W,\"height\":H} or null) and\n"
         "backend (raster, gif, svg or metafile); for camera raw files also camera. Files\n"
         "that cannot be read are reported on standard error; the others are still\n"
         "described. A raw file without a usable preview is reported (\"no usable\n"
         "preview\") and still described, with frames 0 and the key error.\n",
         runInfo},
        {"render", "FILE -o OUT.png [--box WxH] [--region X,Y,W,H] [--frame N]",
         "paint a picture upright into a PNG",
         "Paints frame N (default 0) of FILE upright, as the viewer shows it, fitted into\n"
         "the box WxH keeping its aspect (default: its upright full size), into the PNG\n"
         "OUT.png, transparency kept. OUT.png is replaced only when it was written whole.\n",
         runRender},
        {"frames", "FILE -o DIR", "write every composed frame of an animation",
         "Writes every frame of FILE as the viewer composes it for playback, upright, to\n"
         "DIR/frame-0000.png, DIR/frame-0001.png, ... and then DIR/frames.json, a JSON\n"
         "array of {\"index\":N,\"delayMs\":MS} in frame order. DIR is made when missing;\n"
         "each file is replaced only when it was written whole.\n",
         runFrames},
        {"list", "DIR", "list a folder's pictures",
         "Prints the names of DIR's pictures, one per line, in the order the viewer steps\n"
         "through them.\n",
         runList},
        {"rotate", "FILE (--cw|--ccw) [--copy | --in-place | -o OUT]",
         "turn a picture a quarter turn and write it",
         "Turns FILE a quarter turn clockwise (--cw) or counter-clockwise (--ccw), as it is\n"
         "shown (EXIF orientation applied), and writes the turned picture upright:\n"
         "  --copy      beside FILE as \"NAME - Rotate (n).EXT\" (the default); prints its path\n"
         "  --in-place  over FILE\n"
         "  -o OUT      to OUT, in the format of OUT's suffix\n"
         "A file is replaced only when the new one was written whole.\n",
         runRotate},
        {"flip", "FILE (--horizontal|--vertical) (--in-place | -o OUT)",
         "write a mirrored copy of a picture",
         "Mirrors FILE (its first frame, as it is shown) left-right (--horizontal) or\n"
         "top-bottom (--vertical) and writes it in FILE's own format over FILE (--in-place)\n"
         "or to OUT, whose suffix must name that format.\n",
         runFlip},
        {"crop", "FILE --rect X,Y,W,H -o OUT", "write a part of a picture",
         "Writes the rectangle X,Y,W,H of FILE (in pixels of the picture as it is shown) to\n"
         "OUT, in the format of OUT's suffix. The rectangle is clipped to the picture.\n",
         runCrop},
        {"resize", "FILE --size WxH -o OUT", "write a picture scaled to a size",
         "Scales FILE (as it is shown) smoothly to W x H pixels and writes it to OUT, in the\n"
         "format of OUT's suffix. With W or H 0 that side follows the aspect ratio.\n",
         runResize},
        {"convert", "FILE -o OUT", "write a picture in another format",
         "Writes FILE's first frame, as it is shown, to OUT in the format of OUT's suffix\n"
         "(bmp, jpg, png, tif, xbm, xpm, ...). BMP and JPEG show transparency as white.\n",
         runConvert},
        {"export", "FILE -o OUT [--max-width N] [--max-height N] [--quality Q]",
         "write a reduced copy of a picture",
         "Writes FILE, as it is shown, to OUT in the format of OUT's suffix, fitted into\n"
         "the limits keeping its aspect ratio and never enlarged (0 or no option: no limit),\n"
         "at quality Q (0-100, default 90).\n",
         runExport},
    };
    return table;
}

} // namespace imagetool
