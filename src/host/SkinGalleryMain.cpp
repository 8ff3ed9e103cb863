// picsage-skin-gallery: every skinned control in every state, under the photo viewer's style.
//
//   picsage-skin-gallery                    shows the gallery in a window
//   picsage-skin-gallery --screenshot FILE  renders it offscreen into a PNG and exits

#include "host/SkinGallery.h"
#include "skin/PhotoStyle.h"

#include <QApplication>
#include <QStyleFactory>
#include <QTextStream>

int main(int argc, char **argv)
{
    const bool screenshot = argc >= 3 && qstrcmp(argv[1], "--screenshot") == 0;
    if (screenshot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    auto *style = new PhotoStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    style->init(QString(), QStringLiteral("zh_CN"), 1.99);
    style->setSkin(QString());
    QApplication::setStyle(style);

    host::SkinGallery gallery;
    if (screenshot) {
        const QString file = QString::fromLocal8Bit(argv[2]);
        if (!gallery.grab().save(file, "PNG")) {
            QTextStream(stderr) << "cannot write " << file << '\n';
            return 1;
        }
        return 0;
    }
    gallery.setWindowTitle(QStringLiteral("picsage skin gallery"));
    gallery.show();
    return app.exec();
}
