#pragma once

#include "picsage_global.h"
#include "skin/VuSkinStyle.h"

// The photo viewer's style: the skin style with the viewer's larger option tree.
class PICSAGE_EXPORT PhotoStyle : public skin::VuSkinStyle
{
    Q_OBJECT
public:
    explicit PhotoStyle(QStyle *baseStyle = nullptr);
};
