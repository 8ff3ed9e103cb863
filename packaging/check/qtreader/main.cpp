// A stock Qt program, knowing nothing of picsage: lists the formats Qt can read and reads
// each file it is given.
//   qt-reader FILE...
// Prints "formats: a b c ..." and one line "FILE WIDTHxHEIGHT" or "FILE unreadable" per
// file; exit 0 when every file was read.

#include <QGuiApplication>
#include <QImageReader>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    out << "formats:";
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        out << " " << format;
    out << "\n";
    int status = 0;
    for (const QString &file : app.arguments().mid(1)) {
        QImageReader reader(file);
        const QImage image = reader.read();
        if (image.isNull()) {
            out << file << " unreadable: " << reader.errorString() << "\n";
            status = 1;
        } else {
            out << file << " " << image.width() << "x" << image.height() << "\n";
        }
    }
    return status;
}
