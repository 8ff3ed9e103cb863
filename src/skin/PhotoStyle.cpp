#include "skin/PhotoStyle.h"

#include "skin/PhotoOptionRoot.h"

PhotoStyle::PhotoStyle(QStyle *baseStyle) : VuSkinStyle(baseStyle)
{
    setOptions(new PhotoOptionRoot(this));
}
