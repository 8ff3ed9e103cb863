// Registers our own readers with Qt's plug-in registry when the library is loaded.
#include <QtPlugin>

Q_IMPORT_PLUGIN(PicsageReaderPlugin)
