#pragma once

#include "picsage_global.h"

#include <QString>
#include <cstdint>

// What one method had to say: the module's code and confidence, and a time-stamped line.
// Exported for batch hosts (BatchAnalysis.h).
struct PICSAGE_EXPORT AnalysisResult
{
    int32_t ret = -1;
    float confidence = -9.0f;
    QString msg = QStringLiteral("nothing to do.");

    // Compact JSON, members in key order: {"confidence":-9,"msg":"nothing to do.","ret":-1}
    QString toJson() const;
};
