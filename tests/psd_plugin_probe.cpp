// A Qt program that knows nothing of picsage: it reads a Photoshop document only when
// the installable plug-in module is found through QT_PLUGIN_PATH.
#include <QImageReader>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    const QImage image = reader.read();
    std::printf("%dx%d %s\n", image.width(), image.height(), qPrintable(reader.errorString()));
    return image.isNull() ? 1 : 0;
}
