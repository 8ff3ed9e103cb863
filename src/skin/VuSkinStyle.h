#pragma once

#include "picsage_global.h"

#include <QDir>
#include <QPainterPath>
#include <QProxyStyle>
#include <QString>
#include <QStyleOption>

#include <memory>

class QDomElement;

namespace skin {

class VuSkinOption;
class VuSkinOptionRoot;
class VuSkinResourceLoader;
class VuStyleOptionCheckBox;
class VuStyleOptionComboBox;
class VuStyleOptionMenuFrame;
class VuStyleOptionPushButton;
class VuStyleOptionRadioButton;
class VuStyleOptionShadowBorder;
class VuStyleOptionSlider;
class VuStyleOptionToolButton;

// The library's proxy style. It owns the skin option tree and the resource loader, and
// switches skins: option defaults, theme file, the skin's resource files. It draws the
// library's widgets (the custom elements of VuStyleOptions.h, and menus, line edits, spin
// boxes and scroll bars) in the skinned look; everything else goes to the base style.
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

    void drawPrimitive(PrimitiveElement pe, const QStyleOption *opt, QPainter *p,
                       const QWidget *w = nullptr) const override;
    void drawControl(ControlElement ce, const QStyleOption *opt, QPainter *p,
                     const QWidget *w = nullptr) const override;
    void drawComplexControl(ComplexControl cc, const QStyleOptionComplex *opt, QPainter *p,
                            const QWidget *w = nullptr) const override;
    QRect subControlRect(ComplexControl cc, const QStyleOptionComplex *opt, SubControl sc,
                         const QWidget *w = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption *opt = nullptr,
                    const QWidget *w = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption *opt = nullptr, const QWidget *w = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
    QSize sizeFromContents(ContentsType ct, const QStyleOption *opt, const QSize &contentsSize,
                           const QWidget *w = nullptr) const override;

    // Per-control drawing, overridable by subclasses. Each receives null when the option
    // record is not the one it needs, and then draws nothing.
    virtual void drawPrimitive_PanelMenu(const QStyleOptionMenuItem *opt, QPainter *p,
                                         const QWidget *w) const;
    virtual void drawPrimitive_FrameMenu(const QStyleOptionFrame *opt, QPainter *p,
                                         const QWidget *w) const;
    virtual void drawPrimitive_VuShadowBorder(const VuStyleOptionShadowBorder *opt, QPainter *p,
                                              const QWidget *w) const;
    virtual void drawPrimitive_VuLineEdit(const QStyleOption *opt, QPainter *p,
                                          const QWidget *w) const;
    virtual void drawControl_MenuItem(const QStyleOptionMenuItem *opt, QPainter *p,
                                      const QWidget *w) const;
    virtual void drawControl_VuCheckBox(const VuStyleOptionCheckBox *opt, QPainter *p,
                                        const QWidget *w) const;
    virtual void drawControl_VuRadioButton(const VuStyleOptionRadioButton *opt, QPainter *p,
                                           const QWidget *w) const;
    virtual void drawControl_VuPushButton(const VuStyleOptionPushButton *opt, QPainter *p,
                                          const QWidget *w) const;
    virtual void drawComplexControl_VuSpinBox(const QStyleOptionSpinBox *opt, QPainter *p,
                                              const QWidget *w) const;
    virtual void drawComplexControl_VuComboBox(const VuStyleOptionComboBox *opt, QPainter *p,
                                               const QWidget *w) const;
    virtual void drawComplexControl_VuToolButton(const VuStyleOptionToolButton *opt, QPainter *p,
                                                 const QWidget *w) const;
    virtual void drawComplexControl_VuSlider(const VuStyleOptionSlider *opt, QPainter *p,
                                             const QWidget *w) const;
    virtual void drawComplexControl_VuScrollBar(const QStyleOptionSlider *opt, QPainter *p,
                                                const QWidget *w) const;
    // Scroll-bar geometry for slider options; anything else goes to the base style.
    virtual QRect subControlRect_VuScrollBar(ComplexControl cc, const QStyleOptionComplex *opt,
                                             SubControl sc, const QWidget *w) const;

    // A down-pointing triangle in `rect`; drawn point by point when pen and brush are one
    // solid colour, so that small arrows stay crisp.
    void _drawDownArraw(QPainter *p, const QRect &rect, const QPen &pen, const QBrush &brush) const;
    // One shadow strip beside a window edge, `side` 0 left, 1 top, 2 right, 3 bottom; it
    // blends into the two corner colours over `blendLength` pixels at its ends. Corner A is
    // at the strip's top (left side), left (top), bottom (right side) or right (bottom).
    void _drawShadowBorder(QPainter *p, const QLinearGradient &edge, const QRadialGradient &cornerA,
                           const QRadialGradient &cornerB, double opacity, const QRect &strip,
                           int blendLength, int side) const;
    void _drawShadowCorner(QPainter *p, const QRect &square, const QRadialGradient &corner,
                           double opacity) const;
    // `rect` with the corners in `cornerMask` rounded by `radius`: 1 top-left, 2 top-right,
    // 4 bottom-left, 8 bottom-right; 0 is the plain rectangle.
    QPainterPath _getBoundPath(const QRectF &rect, qreal radius, int cornerMask) const;
    // The colour of the stop at or after `position`, its alpha blended with the stop before.
    QColor _getColorFromGradient(const QGradient &gradient, qreal position) const;

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
