#pragma once

#include "picsage_global.h"

#include <QDir>
#include <QProxyStyle>
#include <QString>

#include <memory>

class QDomElement;

namespace skin {

class VuSkinOption;
class VuSkinOptionRoot;
class VuSkinResourceLoader;

// The library's proxy style. It owns the skin option tree and the resource loader, and
// switches skins: option defaults, theme file, the skin's resource files. Drawing not taken
// over yet goes to the base style.
class PICSAGE_EXPORT VuSkinStyle : public QProxyStyle
{
    Q_OBJECT
public:
    explicit VuSkinStyle(QStyle *baseStyle = nullptr);
    ~VuSkinStyle() override;

    // Called once before the first setSkin. `highDpiThreshold` is the DPI scale above which
    // pictures come from the "2x" folders.
    void init(const QString &skinsDirectory, const QString &resourceSet, double highDpiThreshold);

    // Switches to the skin of that name (a folder of the skins directory holding theme.xml,
    // default.rcc and <resource set>.rcc); an empty name is the built-in look. False when
    // the folder does not exist or theme.xml is unreadable or malformed.
    bool setSkin(const QString &name);

    VuSkinOptionRoot *options() const { return m_options; }
    // Installs a root; the style adopts one that has no Qt parent yet.
    void setOptions(VuSkinOptionRoot *root);
    VuSkinResourceLoader *resourceLoader() const { return m_loader.get(); }

    QString skinName() const { return m_skinName; }
    QDir skinsDirectory() const { return m_skinsDir; }
    QString resourceSet() const { return m_resourceSet; }

protected:
    // Applies one `style` element of a theme and the `style` elements nested in it; a nested
    // style starts from every value of `parent`.
    void loadStyle(const QDomElement &style, VuSkinOption *parent);

private:
    void applyStyleElement(const QDomElement &style, VuSkinOption *target, VuSkinOption *parent);
    VuSkinOption *optionForClass(const QString &className) const;

    VuSkinOptionRoot *m_options = nullptr;
    std::unique_ptr<VuSkinResourceLoader> m_loader;
    QDir m_skinsDir{QString()};
    QString m_skinName;
    QString m_resourceSet;
    // The resource files registered for the current skin, unregistered at the next switch.
    QStringList m_registeredFiles;
};

} // namespace skin
