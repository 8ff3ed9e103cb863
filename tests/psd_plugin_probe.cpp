// A Qt program that knows nothing of picsage. It reads a Photoshop document
//   psd_plugin_probe FILE              through the plug-in module found on QT_PLUGIN_PATH;
//   psd_plugin_probe FILE LIBRARY      after loading LIBRARY (libpicsage.so) with dlopen,
//                                      once the application object exists.
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
        if (QImageReader::supportedImageFormats().contains("psd")) {
            std::printf("psd known before the library was loaded\n");
            return 1;
        }
        if (!dlopen(argv[2], RTLD_NOW | RTLD_LOCAL)) {
            std::printf("%s\n", dlerror());
            return 1;
        }
    }
    QImageReader reader(file);
    const QImage image = reader.read();
    std::printf("%dx%d %s\n", image.width(), image.height(), qPrintable(reader.errorString()));
    return image.isNull() ? 1 : 0;
}
