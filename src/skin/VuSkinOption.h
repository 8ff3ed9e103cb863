#pragma once

#include "picsage_global.h"

#include <QColor>
#include <QLinearGradient>
#include <QObject>

// Gradients travel through QVariant when the theme loader sets them by property name.
Q_DECLARE_METATYPE(QLinearGradient)

namespace skin {

// One node of the skin option tree: a bag of Qt properties that the theme loader sets by
// name and the drawing code reads on every paint.
class PICSAGE_EXPORT VuSkinOption : public QObject
{
    Q_OBJECT
public:
    explicit VuSkinOption(QObject *parent = nullptr);

    // Writes the compiled-in defaults of the concrete class into every property.
    virtual void resetToDefaults() = 0;
};

// The look of one kind of push button: fill (bg), text (tx) and border (bd) colours for the
// normal, hovered, pressed and disabled states, and an optional text gradient and outline.
class PICSAGE_EXPORT VuSkinOptionPushButton : public VuSkinOption
{
    Q_OBJECT
    Q_PROPERTY(QColor bg READ bg WRITE setBg)
    Q_PROPERTY(QColor bghover READ bghover WRITE setBghover)
    Q_PROPERTY(QColor bgclicked READ bgclicked WRITE setBgclicked)
    Q_PROPERTY(QColor bgdisabled READ bgdisabled WRITE setBgdisabled)
    Q_PROPERTY(QColor tx READ tx WRITE setTx)
    Q_PROPERTY(QColor txhover READ txhover WRITE setTxhover)
    Q_PROPERTY(QColor txclicked READ txclicked WRITE setTxclicked)
    Q_PROPERTY(QColor txdisabled READ txdisabled WRITE setTxdisabled)
    Q_PROPERTY(QColor bd READ bd WRITE setBd)
    Q_PROPERTY(QColor bdhover READ bdhover WRITE setBdhover)
    Q_PROPERTY(QColor bdclicked READ bdclicked WRITE setBdclicked)
    Q_PROPERTY(QColor bddisabled READ bddisabled WRITE setBddisabled)
    Q_PROPERTY(QLinearGradient txgrad READ txgrad WRITE setTxgrad)
    Q_PROPERTY(bool txgradEnabled READ txgradEnabled WRITE setTxgradEnabled)
    Q_PROPERTY(bool txoutlineEnable READ txoutlineEnable WRITE setTxoutlineEnable)
public:
    VuSkinOptionPushButton();
    void resetToDefaults() override;

    QColor bg() const { return m_bg; }
    void setBg(const QColor &c) { m_bg = c; }
    QColor bghover() const { return m_bghover; }
    void setBghover(const QColor &c) { m_bghover = c; }
    QColor bgclicked() const { return m_bgclicked; }
    void setBgclicked(const QColor &c) { m_bgclicked = c; }
    QColor bgdisabled() const { return m_bgdisabled; }
    void setBgdisabled(const QColor &c) { m_bgdisabled = c; }
    QColor tx() const { return m_tx; }
    void setTx(const QColor &c) { m_tx = c; }
    QColor txhover() const { return m_txhover; }
    void setTxhover(const QColor &c) { m_txhover = c; }
    QColor txclicked() const { return m_txclicked; }
    void setTxclicked(const QColor &c) { m_txclicked = c; }
    QColor txdisabled() const { return m_txdisabled; }
    void setTxdisabled(const QColor &c) { m_txdisabled = c; }
    QColor bd() const { return m_bd; }
    void setBd(const QColor &c) { m_bd = c; }
    QColor bdhover() const { return m_bdhover; }
    void setBdhover(const QColor &c) { m_bdhover = c; }
    QColor bdclicked() const { return m_bdclicked; }
    void setBdclicked(const QColor &c) { m_bdclicked = c; }
    QColor bddisabled() const { return m_bddisabled; }
    void setBddisabled(const QColor &c) { m_bddisabled = c; }
    QLinearGradient txgrad() const { return m_txgrad; }
    void setTxgrad(const QLinearGradient &g) { m_txgrad = g; }
    bool txgradEnabled() const { return m_txgradEnabled; }
    void setTxgradEnabled(bool on) { m_txgradEnabled = on; }
    bool txoutlineEnable() const { return m_txoutlineEnable; }
    void setTxoutlineEnable(bool on) { m_txoutlineEnable = on; }

private:
    QColor m_bg, m_bghover, m_bgclicked, m_bgdisabled;
    QColor m_tx, m_txhover, m_txclicked, m_txdisabled;
    QColor m_bd, m_bdhover, m_bdclicked, m_bddisabled;
    QLinearGradient m_txgrad;
    bool m_txgradEnabled = false;
    bool m_txoutlineEnable = false;
};

// A push button on a light (white) fill.
class PICSAGE_EXPORT VuSkinOptionPushButtonTextLight : public VuSkinOptionPushButton
{
    Q_OBJECT
public:
    VuSkinOptionPushButtonTextLight();
    void resetToDefaults() override;
};

// A push button with white text on a strong blue fill.
class PICSAGE_EXPORT VuSkinOptionPushButtonTextStrong : public VuSkinOptionPushButton
{
    Q_OBJECT
public:
    VuSkinOptionPushButtonTextStrong();
    void resetToDefaults() override;
};

// The look of a slider: the groove left and right of the handle, and the handle's border
// and fill in each state.
class PICSAGE_EXPORT VuSkinOptionPeSlider : public VuSkinOption
{
    Q_OBJECT
    Q_PROPERTY(QColor leftBg READ leftBg WRITE setLeftBg)
    Q_PROPERTY(QColor leftBgDisabled READ leftBgDisabled WRITE setLeftBgDisabled)
    Q_PROPERTY(QColor rightBg READ rightBg WRITE setRightBg)
    Q_PROPERTY(QColor rightBgDisabled READ rightBgDisabled WRITE setRightBgDisabled)
    Q_PROPERTY(QColor sliderbd READ sliderbd WRITE setSliderbd)
    Q_PROPERTY(QColor sliderbdDisabled READ sliderbdDisabled WRITE setSliderbdDisabled)
    Q_PROPERTY(QColor sliderbdhover READ sliderbdhover WRITE setSliderbdhover)
    Q_PROPERTY(QColor sliderbddown READ sliderbddown WRITE setSliderbddown)
    Q_PROPERTY(QColor sliderbg READ sliderbg WRITE setSliderbg)
    Q_PROPERTY(QColor sliderbgDisabled READ sliderbgDisabled WRITE setSliderbgDisabled)
    Q_PROPERTY(QColor sliderbghover READ sliderbghover WRITE setSliderbghover)
    Q_PROPERTY(QColor sliderbgdown READ sliderbgdown WRITE setSliderbgdown)
public:
    VuSkinOptionPeSlider();
    void resetToDefaults() override;

    QColor leftBg() const { return m_leftBg; }
    void setLeftBg(const QColor &c) { m_leftBg = c; }
    QColor leftBgDisabled() const { return m_leftBgDisabled; }
    void setLeftBgDisabled(const QColor &c) { m_leftBgDisabled = c; }
    QColor rightBg() const { return m_rightBg; }
    void setRightBg(const QColor &c) { m_rightBg = c; }
    QColor rightBgDisabled() const { return m_rightBgDisabled; }
    void setRightBgDisabled(const QColor &c) { m_rightBgDisabled = c; }
    QColor sliderbd() const { return m_sliderbd; }
    void setSliderbd(const QColor &c) { m_sliderbd = c; }
    QColor sliderbdDisabled() const { return m_sliderbdDisabled; }
    void setSliderbdDisabled(const QColor &c) { m_sliderbdDisabled = c; }
    QColor sliderbdhover() const { return m_sliderbdhover; }
    void setSliderbdhover(const QColor &c) { m_sliderbdhover = c; }
    QColor sliderbddown() const { return m_sliderbddown; }
    void setSliderbddown(const QColor &c) { m_sliderbddown = c; }
    QColor sliderbg() const { return m_sliderbg; }
    void setSliderbg(const QColor &c) { m_sliderbg = c; }
    QColor sliderbgDisabled() const { return m_sliderbgDisabled; }
    void setSliderbgDisabled(const QColor &c) { m_sliderbgDisabled = c; }
    QColor sliderbghover() const { return m_sliderbghover; }
    void setSliderbghover(const QColor &c) { m_sliderbghover = c; }
    QColor sliderbgdown() const { return m_sliderbgdown; }
    void setSliderbgdown(const QColor &c) { m_sliderbgdown = c; }

private:
    QColor m_leftBg, m_leftBgDisabled, m_rightBg, m_rightBgDisabled;
    QColor m_sliderbd, m_sliderbdDisabled, m_sliderbdhover, m_sliderbddown;
    QColor m_sliderbg, m_sliderbgDisabled, m_sliderbghover, m_sliderbgdown;
};

// The look of popup menus. `shortcut` is kept for themes; the menu drawing does not read it.
class PICSAGE_EXPORT VuSkinOptionMenuItem : public VuSkinOption
{
    Q_OBJECT
    Q_PROPERTY(QColor separator READ separator WRITE setSeparator)
    Q_PROPERTY(QColor hover READ hover WRITE setHover)
    Q_PROPERTY(QColor bg READ bg WRITE setBg)
    Q_PROPERTY(QColor separatorBg READ separatorBg WRITE setSeparatorBg)
    Q_PROPERTY(QColor fontColor READ fontColor WRITE setFontColor)
    Q_PROPERTY(QColor shortcut READ shortcut WRITE setShortcut)
    Q_PROPERTY(QColor frame READ frame WRITE setFrame)
public:
    VuSkinOptionMenuItem();
    void resetToDefaults() override;

    QColor separator() const { return m_separator; }
    void setSeparator(const QColor &c) { m_separator = c; }
    QColor hover() const { return m_hover; }
    void setHover(const QColor &c) { m_hover = c; }
    QColor bg() const { return m_bg; }
    void setBg(const QColor &c) { m_bg = c; }
    QColor separatorBg() const { return m_separatorBg; }
    void setSeparatorBg(const QColor &c) { m_separatorBg = c; }
    QColor fontColor() const { return m_fontColor; }
    void setFontColor(const QColor &c) { m_fontColor = c; }
    QColor shortcut() const { return m_shortcut; }
    void setShortcut(const QColor &c) { m_shortcut = c; }
    QColor frame() const { return m_frame; }
    void setFrame(const QColor &c) { m_frame = c; }

private:
    QColor m_separator, m_hover, m_bg, m_separatorBg, m_fontColor, m_shortcut, m_frame;
};

} // namespace skin
