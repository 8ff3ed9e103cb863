#include "skin/VuSkinOption.h"

#include <QMetaType>

namespace skin {

namespace {

const QColor kTransparent(0, 0, 0, 0);

// Option pointers and gradients are handed around as QVariants by the theme loader, which
// finds them by name; the short alias keeps older theme tooling working.
void registerOptionTypes()
{
    static const bool registered = [] {
        const int id = qRegisterMetaType<VuSkinOption *>("skin::VuSkinOption*");
        QMetaType::registerTypedef("VuSkinOption*", id);
        qRegisterMetaType<QLinearGradient>("QLinearGradient");
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace

VuSkinOption::VuSkinOption(QObject *parent) : QObject(parent)
{
    registerOptionTypes();
}

VuSkinOptionPushButton::VuSkinOptionPushButton()
{
    VuSkinOptionPushButton::resetToDefaults();
}

void VuSkinOptionPushButton::resetToDefaults()
{
    m_bg = kTransparent;
    m_bghover = QColor(0xDB, 0xE9, 0xF7);
    m_bgclicked = QColor(0xC8, 0xDE, 0xF6);
    m_bgdisabled = kTransparent;
    m_tx = QColor(0x42, 0x42, 0x42);
    m_txhover = QColor(0x42, 0x42, 0x42);
    m_txclicked = QColor(0x42, 0x42, 0x42);
    m_txdisabled = QColor(0xB1, 0xB1, 0xB1);
    m_bd = QColor(0xB3, 0xB3, 0xB3);
    m_bdhover = QColor(0x80, 0xBB, 0xF7);
    m_bdclicked = QColor(0x59, 0xA7, 0xF6);
    m_bddisabled = QColor(0xD9, 0xD9, 0xD9);
    m_txgrad = QLinearGradient();
    m_txgradEnabled = false;
    m_txoutlineEnable = false;
}

VuSkinOptionPushButtonTextLight::VuSkinOptionPushButtonTextLight()
{
    VuSkinOptionPushButtonTextLight::resetToDefaults();
}

void VuSkinOptionPushButtonTextLight::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(QColor(0xFF, 0xFF, 0xFF));
    setBghover(QColor(0xE2, 0xF0, 0xFE));
    setBgclicked(QColor(0xD0, 0xE8, 0xFF));
    setBgdisabled(QColor(0xFF, 0xFF, 0xFF));
}

VuSkinOptionPushButtonTextStrong::VuSkinOptionPushButtonTextStrong()
{
    VuSkinOptionPushButtonTextStrong::resetToDefaults();
}

void VuSkinOptionPushButtonTextStrong::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(QColor(0x22, 0x85, 0xEA));
    setBghover(QColor(0x38, 0x95, 0xF4));
    setBgclicked(QColor(0x1E, 0x78, 0xD4));
    setBgdisabled(QColor(0xD2, 0xD2, 0xD2));
    const QColor white(0xFF, 0xFF, 0xFF);
    setTx(white);
    setTxhover(white);
    setTxclicked(white);
    setTxdisabled(white);
}

VuSkinOptionPeSlider::VuSkinOptionPeSlider()
{
    VuSkinOptionPeSlider::resetToDefaults();
}

void VuSkinOptionPeSlider::resetToDefaults()
{
    const QColor blue(0x43, 0x9E, 0xFF);
    const QColor grey(0xC3, 0xC3, 0xC3);
    m_leftBg = blue;
    m_leftBgDisabled = QColor(0xBE, 0xBD, 0xBD);
    m_rightBg = QColor(0xCE, 0xCE, 0xCE);
    m_rightBgDisabled = QColor(0xDB, 0xDB, 0xDB);
    m_sliderbd = blue;
    m_sliderbdDisabled = grey;
    m_sliderbdhover = blue;
    m_sliderbddown = blue;
    m_sliderbg = blue;
    m_sliderbgDisabled = grey;
    m_sliderbghover = blue;
    m_sliderbgdown = blue;
}

VuSkinOptionMenuItem::VuSkinOptionMenuItem()
{
    VuSkinOptionMenuItem::resetToDefaults();
}

void VuSkinOptionMenuItem::resetToDefaults()
{
    m_separator = QColor(0xE6, 0xE6, 0xE6);
    m_hover = QColor(0xC8, 0xDE, 0xF6);
    m_bg = QColor(0xFF, 0xFF, 0xFF);
    m_separatorBg = QColor(0xFF, 0xFF, 0xFF);
    m_fontColor = QColor(0x45, 0x45, 0x45);
    m_shortcut = QColor(0x8B, 0x97, 0xAF);
    m_frame = QColor(0xFB, 0xFB, 0xFB);
}

} // namespace skin
