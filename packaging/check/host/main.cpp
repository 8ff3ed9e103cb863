// A host program built against the installed package only: it opens a picture through the
// picture library and analyses it in its own process.
//   picsage-host PICTURE METHOD
// Prints the picture's size and the method's code; exit 0 when both worked.

#include <image/ImageDirectory.h>
#include <image/ImageWrapper.h>
#include <tool/AnalyseImageExport.h>

#include <QApplication>
#include <QFileInfo>
#include <QSharedPointer>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        out << "usage: picsage-host PICTURE METHOD\n";
        return 1;
    }
    const QFileInfo picture(args[1]);

    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (!folder->init(picture.absolutePath(), {QStringLiteral("*")})) return 2;
    QSharedPointer<ImageWrapper> image = folder->createImage(picture.fileName(), 0, folder);
    if (!image) return 2;
    image->load();
    const QSize size = image->imageSize(0);
    out << "size " << size.width() << "x" << size.height() << "\n";
    if (size.isEmpty()) return 2;

    const QString path = picture.absoluteFilePath();
    const int code = AnalyseImage(reinterpret_cast<const char16_t *>(path.utf16()),
                                  reinterpret_cast<const char16_t *>(args[2].utf16()), 0);
    out << "code " << code << "\n";
    return code >= 0 ? 0 : 3;
}
