#include "skin/PhotoOptionRoot.h"

PhotoOptionRoot::PhotoOptionRoot(QObject *parent)
    : VuSkinOptionRoot(parent), m_defaultAppPushButton(new PhotoOptionSetDefaultAppPushButton),
      m_pvMattingHelpBtn(new PhotoOptionPvMattingHelpBtn),
      m_pvMattingCustomBtn(new PhotoOptionPvMattingCustomBtn),
      m_pvMattingHelpWidBtn(new PhotoOptionPvMattingHelpWidBtn),
      m_pvMattingColorBtn(new PhotoOptionPvMattingColorBtn),
      m_pvMattingOpenBtn(new PhotoOptionPvMattingOpenBtn),
      m_pvMattingSaveBtn(new PhotoOptionPvMattingSaveBtn),
      m_pvMattingToolBar(new PhotoOptionPvMattingToolBar),
      m_pushButtonClose(new PhotoOptionPushButtonClose),
      m_pushButtonNoBg(new PhotoOptionPushButtonNoBg)
{
}

PhotoOptionRoot::~PhotoOptionRoot() = default;

void PhotoOptionRoot::resetToDefaults()
{
    m_defaultAppPushButton->resetToDefaults();
    m_pvMattingHelpBtn->resetToDefaults();
    m_pvMattingCustomBtn->resetToDefaults();
    m_pvMattingHelpWidBtn->resetToDefaults();
    m_pvMattingColorBtn->resetToDefaults();
    m_pvMattingOpenBtn->resetToDefaults();
    m_pvMattingSaveBtn->resetToDefaults();
    m_pvMattingToolBar->resetToDefaults();
    m_pushButtonClose->resetToDefaults();
    m_pushButtonNoBg->resetToDefaults();
    VuSkinOptionRoot::resetToDefaults();
}
