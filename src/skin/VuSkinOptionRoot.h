#pragma once

#include "picsage_global.h"
#include "skin/VuSkinOption.h"

#include <memory>

namespace skin {

// The top of the option tree, owned by the style. Each child look is a read-only property
// of type "skin::VuSkinOption*", which is how a theme's `class` attribute finds it. A
// subclass adds further looks the same way.
class PICSAGE_EXPORT VuSkinOptionRoot : public VuSkinOption
{
    Q_OBJECT
    Q_PROPERTY(skin::VuSkinOption *PushButton READ pushButton)
    Q_PROPERTY(skin::VuSkinOption *PushButtonTextLight READ pushButtonTextLight)
    Q_PROPERTY(skin::VuSkinOption *PushButtonTextStrong READ pushButtonTextStrong)
    Q_PROPERTY(skin::VuSkinOption *PeSlider READ peSlider)
    Q_PROPERTY(skin::VuSkinOption *MenuItem READ menuItem)
public:
    explicit VuSkinOptionRoot(QObject *parent = nullptr);
    ~VuSkinOptionRoot() override;

    void resetToDefaults() override;

    VuSkinOptionPushButton *pushButton() const { return m_pushButton.get(); }
    VuSkinOptionPushButtonTextLight *pushButtonTextLight() const
    {
        return m_pushButtonTextLight.get();
    }
    VuSkinOptionPushButtonTextStrong *pushButtonTextStrong() const
    {
        return m_pushButtonTextStrong.get();
    }
    VuSkinOptionPeSlider *peSlider() const { return m_peSlider.get(); }
    VuSkinOptionMenuItem *menuItem() const { return m_menuItem.get(); }

private:
    // The children have no Qt parent (they would otherwise show up as QObject children of
    // the root); the root releases them.
    std::unique_ptr<VuSkinOptionPushButton> m_pushButton;
    std::unique_ptr<VuSkinOptionPushButtonTextLight> m_pushButtonTextLight;
    std::unique_ptr<VuSkinOptionPushButtonTextStrong> m_pushButtonTextStrong;
    std::unique_ptr<VuSkinOptionPeSlider> m_peSlider;
    std::unique_ptr<VuSkinOptionMenuItem> m_menuItem;
};

} // namespace skin
