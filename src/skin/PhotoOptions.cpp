#include "skin/PhotoOptions.h"

namespace {

const QColor kTransparent(0, 0, 0, 0);

QColor rgb(QRgb value)
{
    return QColor::fromRgb(value);
}

} // namespace

PhotoOptionSetDefaultAppPushButton::PhotoOptionSetDefaultAppPushButton()
{
    PhotoOptionSetDefaultAppPushButton::resetToDefaults();
}

void PhotoOptionSetDefaultAppPushButton::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(rgb(0x439EFF));
    setBghover(rgb(0x83BFFC));
    setBgclicked(rgb(0x2283EB));
    setTx(rgb(0xFFFFFF));
    setTxhover(rgb(0xFFFFFF));
    setTxclicked(rgb(0xFFFFFF));
    setTxdisabled(rgb(0xB1B1B1));
    setBd(rgb(0x439EFF));
    setBdhover(rgb(0x83BFFC));
    setBdclicked(rgb(0x2283EB));
    setBddisabled(rgb(0xB1B1B1));
}

PhotoOptionPvMattingHelpBtn::PhotoOptionPvMattingHelpBtn()
{
    PhotoOptionPvMattingHelpBtn::resetToDefaults();
}

void PhotoOptionPvMattingHelpBtn::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(rgb(0xF5F5F5));
    setBghover(rgb(0xE4E4E4));
    setBgclicked(rgb(0xE4E4E4));
    setBd(rgb(0xF5F5F5));
    setBdhover(rgb(0xE4E4E4));
    setBdclicked(rgb(0xE4E4E4));
    setTx(rgb(0x454545));
    setTxhover(rgb(0x454545));
    setTxclicked(rgb(0x454545));
}

PhotoOptionPvMattingCustomBtn::PhotoOptionPvMattingCustomBtn()
{
    PhotoOptionPvMattingCustomBtn::resetToDefaults();
}

void PhotoOptionPvMattingCustomBtn::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(rgb(0xFFFFFF));
    setBghover(rgb(0xFFFFFF));
    setBgclicked(rgb(0xE8E8E8));
    setBd(rgb(0xB9B9B9));
    setBdhover(rgb(0xCCCCCC));
    setBdclicked(rgb(0x8B8B8B));
    setTx(rgb(0x454545));
    setTxhover(rgb(0x454545));
    setTxclicked(rgb(0x454545));
}

PhotoOptionPvMattingHelpWidBtn::PhotoOptionPvMattingHelpWidBtn()
{
    PhotoOptionPvMattingHelpWidBtn::resetToDefaults();
}

void PhotoOptionPvMattingHelpWidBtn::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(rgb(0xFFFFFF));
    setBghover(rgb(0xFFFFFF));
    setBgclicked(rgb(0xF5F5F5));
    setBd(rgb(0xF5F5F5));
    setBdhover(rgb(0xF5F5F5));
    setBdclicked(rgb(0xF5F5F5));
    setTx(rgb(0x4B4B4B));
    setTxhover(rgb(0x4B4B4B));
    setTxclicked(rgb(0x4B4B4B));
}

PhotoOptionPvMattingColorBtn::PhotoOptionPvMattingColorBtn()
{
    PhotoOptionPvMattingColorBtn::resetToDefaults();
}

void PhotoOptionPvMattingColorBtn::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBd(rgb(0xFFFFFF));
    setBdhover(rgb(0x439EFF));
    setBdclicked(rgb(0x439EFF));
    setBddisabled(rgb(0xFFFFFF));
}

PhotoOptionPvMattingOpenBtn::PhotoOptionPvMattingOpenBtn()
{
    PhotoOptionPvMattingOpenBtn::resetToDefaults();
}

void PhotoOptionPvMattingOpenBtn::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(rgb(0xFFFFFF));
    setBghover(rgb(0xEDF0F2));
    setBgclicked(rgb(0xE8EBEF));
    setBgdisabled(rgb(0xFFFFFF));
    setBd(rgb(0xD7D9DE));
    setBdhover(rgb(0xB9BDC6));
    setBdclicked(rgb(0xAFB3BD));
    setBddisabled(rgb(0xECECEC));
    setTx(rgb(0x262E3E));
    setTxhover(rgb(0x262E3E));
    setTxclicked(rgb(0x262E3E));
    setTxdisabled(rgb(0x8B95A8));
}

PhotoOptionPvMattingSaveBtn::PhotoOptionPvMattingSaveBtn()
{
    PhotoOptionPvMattingSaveBtn::resetToDefaults();
}

void PhotoOptionPvMattingSaveBtn::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBg(rgb(0x417FF9));
    setBghover(rgb(0x608DFA));
    setBgclicked(rgb(0x1F72F1));
    setBgdisabled(rgb(0xB3CCFD));
    setBd(kTransparent);
    setBdhover(kTransparent);
    setBdclicked(kTransparent);
    setBddisabled(kTransparent);
    setTx(rgb(0xFFFFFF));
    setTxhover(rgb(0xFFFFFF));
    setTxclicked(rgb(0xFFFFFF));
    setTxdisabled(rgb(0xFFFFFF));
}

PhotoOptionPvMattingToolBar::PhotoOptionPvMattingToolBar()
{
    PhotoOptionPvMattingToolBar::resetToDefaults();
}

void PhotoOptionPvMattingToolBar::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBghover(kTransparent);
    setBgclicked(kTransparent);
    setBd(kTransparent);
    setBdhover(kTransparent);
    setBdclicked(kTransparent);
    setBddisabled(kTransparent);
    setTx(rgb(0x333333));
    setTxhover(rgb(0x4FA4FF));
    setTxclicked(rgb(0x378FEC));
    setTxdisabled(rgb(0xC0C0C0));
}

PhotoOptionPushButtonClose::PhotoOptionPushButtonClose()
{
    PhotoOptionPushButtonClose::resetToDefaults();
}

void PhotoOptionPushButtonClose::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBghover(rgb(0xEA4A65));
    setBgclicked(rgb(0xD63B54));
}

PhotoOptionPushButtonNoBg::PhotoOptionPushButtonNoBg()
{
    PhotoOptionPushButtonNoBg::resetToDefaults();
}

void PhotoOptionPushButtonNoBg::resetToDefaults()
{
    VuSkinOptionPushButton::resetToDefaults();
    setBghover(kTransparent);
    setBgclicked(kTransparent);
    setBd(kTransparent);
    setBdhover(kTransparent);
    setBdclicked(kTransparent);
}
