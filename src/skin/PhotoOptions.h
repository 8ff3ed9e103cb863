#pragma once

#include "picsage_global.h"
#include "skin/VuSkinOption.h"

// The photo viewer's own push-button looks. Each starts from the plain push-button look
// and changes a few colours.

// The set-as-default-application button.
class PICSAGE_EXPORT PhotoOptionSetDefaultAppPushButton : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionSetDefaultAppPushButton();
    void resetToDefaults() override;
};

// The matting panel's help button.
class PICSAGE_EXPORT PhotoOptionPvMattingHelpBtn : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPvMattingHelpBtn();
    void resetToDefaults() override;
};

// The matting panel's custom-size button.
class PICSAGE_EXPORT PhotoOptionPvMattingCustomBtn : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPvMattingCustomBtn();
    void resetToDefaults() override;
};

// The buttons of the matting help panel.
class PICSAGE_EXPORT PhotoOptionPvMattingHelpWidBtn : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPvMattingHelpWidBtn();
    void resetToDefaults() override;
};

// The matting panel's colour swatches.
class PICSAGE_EXPORT PhotoOptionPvMattingColorBtn : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPvMattingColorBtn();
    void resetToDefaults() override;
};

// The matting panel's open button.
class PICSAGE_EXPORT PhotoOptionPvMattingOpenBtn : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPvMattingOpenBtn();
    void resetToDefaults() override;
};

// The matting panel's save button.
class PICSAGE_EXPORT PhotoOptionPvMattingSaveBtn : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPvMattingSaveBtn();
    void resetToDefaults() override;
};

// The buttons of the matting tool bar.
class PICSAGE_EXPORT PhotoOptionPvMattingToolBar : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPvMattingToolBar();
    void resetToDefaults() override;
};

// Window close buttons.
class PICSAGE_EXPORT PhotoOptionPushButtonClose : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPushButtonClose();
    void resetToDefaults() override;
};

// Buttons without a background.
class PICSAGE_EXPORT PhotoOptionPushButtonNoBg : public skin::VuSkinOptionPushButton
{
    Q_OBJECT
public:
    PhotoOptionPushButtonNoBg();
    void resetToDefaults() override;
};
