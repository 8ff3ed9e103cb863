#include "skin/VuSkinOptionRoot.h"

namespace skin {

VuSkinOptionRoot::VuSkinOptionRoot(QObject *parent)
    : VuSkinOption(parent), m_pushButton(new VuSkinOptionPushButton),
      m_pushButtonTextLight(new VuSkinOptionPushButtonTextLight),
      m_pushButtonTextStrong(new VuSkinOptionPushButtonTextStrong),
      m_peSlider(new VuSkinOptionPeSlider), m_menuItem(new VuSkinOptionMenuItem)
{
}

VuSkinOptionRoot::~VuSkinOptionRoot() = default;

void VuSkinOptionRoot::resetToDefaults()
{
    m_pushButton->resetToDefaults();
    m_pushButtonTextLight->resetToDefaults();
    m_pushButtonTextStrong->resetToDefaults();
    m_peSlider->resetToDefaults();
    m_menuItem->resetToDefaults();
}

} // namespace skin
