#pragma once

#include "picsage_global.h"
#include "skin/VuSApplication.h"

class ImageFormats;
class QTranslator;
namespace skin {
class VuSkinResourceLoader;
}

// The Qt application object of the library: the photo viewer's skin style, the Chinese
// language resources and translations from the library's own folder, the format table,
// the application font, and whether the application is about to quit.
class PICSAGE_EXPORT PhotoApplication : public skin::VuSApplication
{
    Q_OBJECT
public:
    PhotoApplication(int &argc, char **argv);
    ~PhotoApplication() override;

    // Sets the style, the language resources and the graphics runtime up again.
    virtual void init();
    // Registers mui/zh_CN/res.rcc and installs the mui/zh_CN/default.qm translator;
    // missing files leave the texts untranslated.
    virtual void initMui();

    static bool isQuitting();
    QString getStartupOrign() const;
    ImageFormats *imageFormats() const;
    skin::VuSkinResourceLoader *resLoader() const;

    // "<library folder>/mui/zh_CN" in native separators, computed once.
    static QString muiDirectory();

protected:
    void initGdiplus();
    void setupStyle();

protected Q_SLOTS:
    void onQuit();

private:
    quintptr m_gdiplusToken = 0;
    ImageFormats *m_imageFormats = nullptr;
    QTranslator *m_translator = nullptr;
    skin::VuSkinResourceLoader *m_resLoader = nullptr;

    static bool s_bIsQuitting;
};
