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
        {"render", "FILE -o OUT.png [--box WxH] [--region X,Y,W,H] [--frame N] [--exif-thumbnail]",
         "paint a picture upright into a PNG",
         "Paints frame N (default 0) of FILE upright, as the viewer shows it, fitted into\n"
         "the box WxH keeping its aspect (default: its upright full size), into the PNG\n"
         "OUT.png, transparency kept. OUT.png is replaced only when it was written whole.\n"
         "With --exif-thumbnail the camera's embedded thumbnail stands in for the whole\n"
         "picture when it is at least the size written and of the picture's shape.\n",
         runRender},
        {"thumbnails",
         "DIR|FILE... -o OUTDIR [--box WxH] [--jobs N] [--format png|jpg] [-r] [--exif-thumbnail]",
         "make thumbnails of pictures and folders",
         "Writes for every picture of each DIR (its subfolders too with -r, mirrored in OUTDIR)\n"
         "and for every FILE a thumbnail OUTDIR/NAME.png (or NAME.jpg with --format jpg; NAME\n"
         "is the picture's whole file name): frame 0 upright, fitted into the box WxH\n"
         "(default 256x256) and never enlarged; a JPEG shows transparency as white. A\n"
         "thumbnail newer than its picture is kept. N pictures are made at once (-j, --jobs;\n"
         "default: one per processor). --exif-thumbnail lets the camera's embedded thumbnail\n"
         "stand in when it is large enough and of the picture's shape. Prints a JSON line\n"
         "per picture ({\"path\",\"thumbnail\",\"status\": made, kept or failed, ...}), or a\n"
         "progress bar on a terminal. Pictures that fail are reported and the others still\n"
         "made (exit 2). Nothing is written outside OUTDIR.\n",
         runThumbnails},
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
