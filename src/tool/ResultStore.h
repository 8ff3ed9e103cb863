#pragma once

// Where the analysis results live: the viewer's per-user settings store (organisation
// "ormelo", application "office") and, in it, the group of this product's version.
// Header-only, so that small programs beside the library read the same place.

#include <QString>

namespace resultstore {

inline QString organisation()
{
    return QStringLiteral("ormelo");
}

inline QString application()
{
    return QStringLiteral("office");
}

// PICSAGE_VERSION comes from the build (project version, "6.0").
inline QString group()
{
    return QStringLiteral(PICSAGE_VERSION "/plugins/photo/picsage");
}

} // namespace resultstore
