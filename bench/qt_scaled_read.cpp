// The peer of picsage-image render --box for a small box: Qt's own scaled read of a JPEG
// (the codec's reduced decode, then Qt's scaling) written as a PNG, as a program of its own.
//
//   bench-qt-scaled-read IN.jpg OUT.png W H

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

int main(int argc, char **argv)
{
    if (argc != 5) return 1;
    QGuiApplication app(argc, argv);
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    reader.setAutoTransform(true);
    const QSize box(QString::fromLatin1(argv[3]).toInt(), QString::fromLatin1(argv[4]).toInt());
    reader.setScaledSize(reader.size().scaled(box, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    QImageWriter writer(QString::fromLocal8Bit(argv[2]), "png");
    return !image.isNull() && writer.write(image) ? 0 : 1;
}
