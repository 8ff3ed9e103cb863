#pragma once

#include "picsage_global.h"
#include "skin/PhotoOptions.h"
#include "skin/VuSkinOptionRoot.h"

#include <memory>

// The photo viewer's option tree: the base looks plus the viewer's ten push-button looks,
// which themes restyle by these property names.
class PICSAGE_EXPORT PhotoOptionRoot : public skin::VuSkinOptionRoot
{
    Q_OBJECT
    Q_PROPERTY(skin::VuSkinOption *SetDefaultAppPushButton READ defaultAppPushButton)
    Q_PROPERTY(skin::VuSkinOption *PvMattingHelpBtn READ pvMattingHelpBtn)
    Q_PROPERTY(skin::VuSkinOption *PvMattingCustomBtn READ pvMattingCustomBtn)
    Q_PROPERTY(skin::VuSkinOption *PvMattingHelpWidBtn READ pvMattingHelpWidBtn)
    Q_PROPERTY(skin::VuSkinOption *PvMattingColorBtn READ pvMattingColorBtn)
    Q_PROPERTY(skin::VuSkinOption *PvMattingOpenBtn READ pvMattingOpenBtn)
    Q_PROPERTY(skin::VuSkinOption *PvMattingSaveBtn READ pvMattingSaveBtn)
    Q_PROPERTY(skin::VuSkinOption *PvMattingToolBar READ pvMattingToolBar)
    Q_PROPERTY(skin::VuSkinOption *PushButtonClose READ pushButtonClose)
    Q_PROPERTY(skin::VuSkinOption *PushButtonNoBg READ pushButtonNoBg)
public:
    explicit PhotoOptionRoot(QObject *parent = nullptr);
    ~PhotoOptionRoot() override;

    void resetToDefaults() override;

    PhotoOptionSetDefaultAppPushButton *defaultAppPushButton() const
    {
        return m_defaultAppPushButton.get();
    }
    PhotoOptionPvMattingHelpBtn *pvMattingHelpBtn() const { return m_pvMattingHelpBtn.get(); }
    PhotoOptionPvMattingCustomBtn *pvMattingCustomBtn() const { return m_pvMattingCustomBtn.get(); }
    PhotoOptionPvMattingHelpWidBtn *pvMattingHelpWidBtn() const
    {
        return m_pvMattingHelpWidBtn.get();
    }
    PhotoOptionPvMattingColorBtn *pvMattingColorBtn() const { return m_pvMattingColorBtn.get(); }
    PhotoOptionPvMattingOpenBtn *pvMattingOpenBtn() const { return m_pvMattingOpenBtn.get(); }
    PhotoOptionPvMattingSaveBtn *pvMattingSaveBtn() const { return m_pvMattingSaveBtn.get(); }
    PhotoOptionPvMattingToolBar *pvMattingToolBar() const { return m_pvMattingToolBar.get(); }
    PhotoOptionPushButtonClose *pushButtonClose() const { return m_pushButtonClose.get(); }
    PhotoOptionPushButtonNoBg *pushButtonNoBg() const { return m_pushButtonNoBg.get(); }

private:
    std::unique_ptr<PhotoOptionSetDefaultAppPushButton> m_defaultAppPushButton;
    std::unique_ptr<PhotoOptionPvMattingHelpBtn> m_pvMattingHelpBtn;
    std::unique_ptr<PhotoOptionPvMattingCustomBtn> m_pvMattingCustomBtn;
    std::unique_ptr<PhotoOptionPvMattingHelpWidBtn> m_pvMattingHelpWidBtn;
    std::unique_ptr<PhotoOptionPvMattingColorBtn> m_pvMattingColorBtn;
    std::unique_ptr<PhotoOptionPvMattingOpenBtn> m_pvMattingOpenBtn;
    std::unique_ptr<PhotoOptionPvMattingSaveBtn> m_pvMattingSaveBtn;
    std::unique_ptr<PhotoOptionPvMattingToolBar> m_pvMattingToolBar;
    std::unique_ptr<PhotoOptionPushButtonClose> m_pushButtonClose;
    std::unique_ptr<PhotoOptionPushButtonNoBg> m_pushButtonNoBg;
};
