#pragma once

#include "picsage_global.h"

#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace skin {

// Finds the pictures of the user interface in Qt's resource system, preferring the current
// skin over the built-in set, the resource-set (locale) folder over the common folder, and
// "2x" artwork over "1x" on high-DPI screens. Every picture found is cached by name.
//
// A value class: copies share the cached pictures (Qt's implicit sharing), so a copy and
// the original can be destroyed in any order.
class PICSAGE_EXPORT VuSkinResourceLoader
{
public:
    // The "2x" folder is used when the logical DPI scale exceeds `highDpiThreshold`;
    // decided once, here.
    VuSkinResourceLoader(const QString &resourceSet, double highDpiThreshold);
    VuSkinResourceLoader(const VuSkinResourceLoader &other);
    VuSkinResourceLoader &operator=(const VuSkinResourceLoader &other);
    ~VuSkinResourceLoader();

    // Forget every picture (and every recorded miss) of the previous skin.
    bool setSkin(const QString &skinName);
    bool resetSkin();

    // Null results when nothing is found; a missing picture is never an error.
    QIcon loadIcon(const QString &name);
    QPixmap loadPixmap(const QString &name);

    // The ":/" path of the first existing file `fileName` (extension included) in the
    // resource-set and scale folders, or an empty string.
    QString locate(const QString &fileName) const;

    QString skinName() const { return m_skinName; }
    QString resourceSet() const { return m_resourceSet; }
    int highestScaleIndex() const { return m_highestScale; }

private:
    using IconCache = QHash<QString, QIcon>;
    using PixmapCache = QHash<QString, QPixmap>;

    // The candidate base paths (without ".png") below `prefix`, best first.
    QStringList candidates(const QString &prefix, const QString &name) const;
    QIcon _loadIcon(const QString &prefix, IconCache *cache, const QString &name) const;
    QIcon _loadIconAt(const QString &basePath, IconCache *cache, const QString &name) const;
    QPixmap _loadPixmap(const QString &prefix, PixmapCache *cache, const QString &name) const;
    QString skinPrefix() const;

    // Pictures are held by value. In the skin caches a null value records a miss, so a
    // name the skin lacks is searched once per skin switch, not once per paint; found
    // pictures are never null because their normal picture loaded.
    IconCache m_defaultIcons;
    IconCache m_skinIcons;
    PixmapCache m_defaultPixmaps;
    PixmapCache m_skinPixmaps;
    QString m_skinName;
    int m_highestScale = 0;
    QStringList m_scaleFolders;
    QString m_resourceSet;
};

} // namespace skin
