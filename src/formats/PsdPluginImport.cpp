// Registers the Photoshop plug-in with Qt's plug-in registry when the library is loaded,
// so QImageReader reads PSD and PSB files without any call by the host.
#include <QtPlugin>

Q_IMPORT_PLUGIN(QPsdPlugin)
