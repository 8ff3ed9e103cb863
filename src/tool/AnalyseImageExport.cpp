#include "AnalyseImageExport.h"

#include "RunAnalysis.h"

int32_t AnalyseImage(const char16_t *path, const char16_t *methods, uint32_t autoFlag)
{
    const QString picture = QString::fromUtf16(path);
    const QStringList names = QString::fromUtf16(methods).split(QLatin1Char(','));
    return runAnalysis(methodsFromNames(names), picture, (autoFlag & 0xFF) != 0);
}
