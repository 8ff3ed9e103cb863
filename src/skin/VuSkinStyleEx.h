#pragma once

#include "picsage_global.h"
#include "skin/VuSkinStyle.h"

namespace skin {

// An extension point over the skin style; its meta-object and translation context are what
// the library provides.
class PICSAGE_EXPORT VuSkinStyleEx : public VuSkinStyle
{
    Q_OBJECT
public:
    using VuSkinStyle::VuSkinStyle;
};

} // namespace skin
