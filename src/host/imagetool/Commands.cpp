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
         "backend (raster, gif, svg or metafile). Files that cannot be read are reported\n"
         "on standard error; the others are still described.\n",
         runInfo},
        {"render", "FILE -o OUT.png [--box WxH] [--region X,Y,W,H] [--frame N]",
         "paint a picture upright into a PNG",
         "Paints frame N (default 0) of FILE upright, as the viewer shows it, fitted into\n"
         "the box WxH keeping its aspect (default: its upright full size), into the PNG\n"
         "OUT.png, transparency kept. OUT.png is replaced only when it was written whole.\n",
         runRender},
        {"list", "DIR", "list a folder's pictures",
         "Prints the names of DIR's pictures, one per line, in the order the viewer steps\n"
         "through them.\n",
         runList},
    };
    return table;
}

} // namespace imagetool
