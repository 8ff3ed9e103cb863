// Registers the camera-raw plug-in with Qt's plug-in registry when the library is loaded,
// so QImageReader reads raw files without any call by the host.
#include <QtPlugin>

Q_IMPORT_PLUGIN(RawPlugin)
