// A Qt program that knows nothing of picsage. It reads a camera raw file
//   raw_plugin_probe FILE              through the plug-in module found on QT_PLUGIN_PATH;
//   raw_plugin_probe FILE LIBRARY      after loading LIBRARY (libpicsage.so) with dlopen,
//                                      once the application object exists.
// It prints the picture's size, the reported size and the format the reader took it for.
#include <QGuiApplication>
#include <QImageReader>

#include <dlfcn.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) return 2;
    QGuiApplication app(argc, argv);
    const QString file = QString::fromLocal8Bit(argv[1]);
    if (argc == 3) {
        if (QImageReader::supportedImageFormats().contains("nef")) {
            std::printf("nef known before the library was loaded\n");
            return 1;
        }
        if (!dlopen(argv[2], RTLD_NOW | RTLD_LOCAL)) {
            std::printf("%s\n", dlerror());
            return 1;
        }
    }
    QImageReader reader(file);
    const QSize size = reader.size();
    const QImage image = reader.read();
    std::printf("%dx%d of %dx%d %s %s\n", image.width(), image.height(), size.width(),
                size.height(), reader.format().constData(), qPrintable(reader.errorString()));
    return image.isNull() ? 1 : 0;
}
