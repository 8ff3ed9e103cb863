#include "skin/VuSkinStyle.h"

#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinResourceLoader.h"
#include "skin/VuTheme.h"

#include <QDomDocument>
#include <QFileInfo>
#include <QMetaProperty>
#include <QResource>
#include <QVector>

namespace skin {

namespace {

// A skin name is one folder of the skins directory, never a path out of it.
bool isPlainFolderName(const QString &name)
{
    return name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

} // namespace

VuSkinStyle::VuSkinStyle(QStyle *baseStyle) : QProxyStyle(baseStyle) {}

VuSkinStyle::~VuSkinStyle()
{
    for (const QString &file : qAsConst(m_registeredFiles))
        QResource::unregisterResource(file);
    // The option root is a Qt child of the style (see setOptions) and goes with it.
}

void VuSkinStyle::init(const QString &skinsDirectory, const QString &resourceSet,
                       double highDpiThreshold)
{
    m_skinsDir.setPath(skinsDirectory);
    m_resourceSet = resourceSet;
    m_loader = std::make_unique<VuSkinResourceLoader>(resourceSet, highDpiThreshold);
}

void VuSkinStyle::setOptions(VuSkinOptionRoot *root)
{
    if (root && !root->parent()) root->setParent(this);
    m_options = root;
}

bool VuSkinStyle::setSkin(const QString &name)
{
    const QString skinPath = m_skinsDir.absoluteFilePath(name);
    if (!name.isEmpty() && (!isPlainFolderName(name) || !QFileInfo(skinPath).isDir())) return false;

    if (m_options) m_options->resetToDefaults();

    if (!name.isEmpty()) {
        QDomDocument doc;
        if (!theme::readDocument(skinPath + QStringLiteral("/theme.xml"), &doc)) return false;
        const QDomElement theme = doc.documentElement().firstChildElement(QStringLiteral("theme"));
        for (QDomElement style = theme.firstChildElement(QStringLiteral("style")); !style.isNull();
             style = style.nextSiblingElement(QStringLiteral("style")))
            loadStyle(style, nullptr);
    }

    for (const QString &file : qAsConst(m_registeredFiles))
        QResource::unregisterResource(file);
    m_registeredFiles.clear();

    if (!name.isEmpty()) {
        const QStringList files = {skinPath + QStringLiteral("/default.rcc"),
                                   skinPath + QLatin1Char('/') + m_resourceSet +
                                       QStringLiteral(".rcc")};
        for (const QString &file : files) {
            if (QResource::registerResource(file)) m_registeredFiles << file;
        }
    }

    if (m_loader) m_loader->setSkin(name);
    m_skinName = name;
    return true;
}

VuSkinOption *VuSkinStyle::optionForClass(const QString &className) const
{
    if (!m_options || className.isEmpty()) return nullptr;
    const QVariant value = m_options->property(className.toUtf8().constData());
    if (!(QMetaType::typeFlags(value.userType()) & QMetaType::PointerToQObject)) return nullptr;
    return qobject_cast<VuSkinOption *>(value.value<QObject *>());
}

void VuSkinStyle::loadStyle(const QDomElement &style, VuSkinOption *parent)
{
    // Depth first in document order, with a work list instead of recursion so that deeply
    // nested styles cannot exhaust the stack.
    struct Pending
    {
        QDomElement element;
        VuSkinOption *parent;
    };
    QVector<Pending> work{{style, parent}};
    while (!work.isEmpty()) {
        const Pending next = work.takeLast();
        VuSkinOption *target = optionForClass(next.element.attribute(QStringLiteral("class")));
        if (!target) continue;
        applyStyleElement(next.element, target, next.parent);

        const int firstNested = work.size();
        for (QDomElement nested = next.element.firstChildElement(QStringLiteral("style"));
             !nested.isNull(); nested = nested.nextSiblingElement(QStringLiteral("style")))
            work.append({nested, target});
        std::reverse(work.begin() + firstNested, work.end());
    }
}

void VuSkinStyle::applyStyleElement(const QDomElement &style, VuSkinOption *target,
                                    VuSkinOption *parent)
{
    if (parent) {
        const QMetaObject *meta = parent->metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const char *name = meta->property(i).name();
            target->setProperty(name, parent->property(name));
        }
    }

    // Kinds apply in a fixed order, so a `linear` beats a `color` of the same name wherever
    // the two stand in the file.
    const auto eachOfKind = [&style](const char *kind, const auto &apply) {
        const QString tag = QLatin1String(kind);
        for (QDomElement e = style.firstChildElement(tag); !e.isNull();
             e = e.nextSiblingElement(tag)) {
            const QByteArray name = e.attribute(QStringLiteral("name")).toUtf8();
            if (!name.isEmpty()) apply(name.constData(), e);
        }
    };
    eachOfKind("color", [target](const char *name, const QDomElement &e) {
        QColor color;
        if (theme::parseColor(e.attribute(QStringLiteral("value")), &color))
            target->setProperty(name, color);
    });
    eachOfKind("pixmap", [target](const char *name, const QDomElement &e) {
        target->setProperty(name, e.attribute(QStringLiteral("value")));
    });
    eachOfKind("linear", [target](const char *name, const QDomElement &e) {
        QLinearGradient gradient;
        if (theme::parseLinear(e, &gradient))
            target->setProperty(name, QVariant::fromValue(gradient));
    });
    eachOfKind("bool", [target](const char *name, const QDomElement &e) {
        target->setProperty(name, e.attribute(QStringLiteral("value")) == QLatin1String("true"));
    });
}

} // namespace skin
