#include "skin/VuSkinResourceLoader.h"

#include "skin/VuStyleHelper.h"

#include <QFile>

namespace skin {

namespace {
const QString kRoot = QStringLiteral(":/");
const QString kPng = QStringLiteral(".png");
} // namespace

VuSkinResourceLoader::VuSkinResourceLoader(const QString &resourceSet, double highDpiThreshold)
    : m_highestScale(dpiScale() > highDpiThreshold ? 1 : 0), m_scaleFolders{QStringLiteral("1x"),
                                                                            QStringLiteral("2x")},
      m_resourceSet(resourceSet)
{
}

VuSkinResourceLoader::VuSkinResourceLoader(const VuSkinResourceLoader &other) = default;
VuSkinResourceLoader &VuSkinResourceLoader::operator=(const VuSkinResourceLoader &other) = default;
VuSkinResourceLoader::~VuSkinResourceLoader() = default;

bool VuSkinResourceLoader::setSkin(const QString &skinName)
{
    m_skinIcons.clear();
    m_skinPixmaps.clear();
    m_skinName = skinName;
    return true;
}

bool VuSkinResourceLoader::resetSkin()
{
    return setSkin(QString());
}

QString VuSkinResourceLoader::skinPrefix() const
{
    return kRoot + m_skinName + QLatin1Char('/');
}

QStringList VuSkinResourceLoader::candidates(const QString &prefix, const QString &name) const
{
    QStringList paths;
    const QString localised = prefix + m_resourceSet + QLatin1Char('/');
    for (int scale = m_highestScale; scale >= 0; --scale)
        paths << localised + m_scaleFolders.at(scale) + QLatin1Char('/') + name;
    for (int scale = m_highestScale; scale >= 0; --scale)
        paths << prefix + m_scaleFolders.at(scale) + QLatin1Char('/') + name;
    return paths;
}

QIcon VuSkinResourceLoader::_loadIcon(const QString &prefix, IconCache *cache,
                                      const QString &name) const
{
    for (const QString &base : candidates(prefix, name)) {
        const QIcon icon = _loadIconAt(base, cache, name);
        if (!icon.isNull()) return icon;
    }
    return QIcon();
}

QIcon VuSkinResourceLoader::_loadIconAt(const QString &basePath, IconCache *cache,
                                        const QString &name) const
{
    const QPixmap normal(basePath + kPng);
    if (normal.isNull()) return QIcon();

    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal, QIcon::Off);
    // Variants come only from the folder of the normal picture; Qt derives missing modes.
    static const struct
    {
        const char *suffix;
        QIcon::Mode mode;
    } variants[] = {
        {"-active", QIcon::Active}, {"-selected", QIcon::Selected}, {"-disabled", QIcon::Disabled}};
    for (const auto &variant : variants) {
        const QPixmap pixmap(basePath + QLatin1String(variant.suffix) + kPng);
        if (!pixmap.isNull()) icon.addPixmap(pixmap, variant.mode, QIcon::Off);
    }
    cache->insert(name, icon);
    return icon;
}

QPixmap VuSkinResourceLoader::_loadPixmap(const QString &prefix, PixmapCache *cache,
                                          const QString &name) const
{
    for (const QString &base : candidates(prefix, name)) {
        const QPixmap pixmap(base + kPng);
        if (!pixmap.isNull()) {
            cache->insert(name, pixmap);
            return pixmap;
        }
    }
    return QPixmap();
}

QIcon VuSkinResourceLoader::loadIcon(const QString &name)
{
    if (!m_skinName.isEmpty()) {
        const auto hit = m_skinIcons.constFind(name);
        if (hit == m_skinIcons.constEnd()) {
            const QIcon icon = _loadIcon(skinPrefix(), &m_skinIcons, name);
            if (!icon.isNull()) return icon;
            m_skinIcons.insert(name, QIcon());
        } else if (!hit->isNull()) {
            return *hit;
        }
    }
    const auto hit = m_defaultIcons.constFind(name);
    if (hit != m_defaultIcons.constEnd()) return *hit;
    return _loadIcon(kRoot, &m_defaultIcons, name);
}

QPixmap VuSkinResourceLoader::loadPixmap(const QString &name)
{
    if (!m_skinName.isEmpty()) {
        const auto hit = m_skinPixmaps.constFind(name);
        if (hit == m_skinPixmaps.constEnd()) {
            const QPixmap pixmap = _loadPixmap(skinPrefix(), &m_skinPixmaps, name);
            if (!pixmap.isNull()) return pixmap;
            m_skinPixmaps.insert(name, QPixmap());
        } else if (!hit->isNull()) {
            return *hit;
        }
    }
    const auto hit = m_defaultPixmaps.constFind(name);
    if (hit != m_defaultPixmaps.constEnd()) return *hit;
    return _loadPixmap(kRoot, &m_defaultPixmaps, name);
}

QString VuSkinResourceLoader::locate(const QString &fileName) const
{
    const QString localised = kRoot + m_resourceSet + QLatin1Char('/');
    QStringList paths;
    for (int scale = m_highestScale; scale >= 0; --scale)
        paths << localised + m_scaleFolders.at(scale) + QLatin1Char('/') + fileName;
    paths << localised + fileName;
    for (int scale = m_highestScale; scale >= 0; --scale)
        paths << kRoot + m_scaleFolders.at(scale) + QLatin1Char('/') + fileName;
    paths << kRoot + fileName;
    for (const QString &path : paths) {
        if (QFile::exists(path)) return path;
    }
    return QString();
}

} // namespace skin
