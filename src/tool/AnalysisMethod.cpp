#include "AnalysisMethod.h"

namespace {
struct MethodRow
{
    const char *name;
    const char *factory;
    const char *release;
};

constexpr MethodRow Methods[AnalysisMethodCount] = {
    {"cornerseek_pc", "GetCornerSeekObj", "ReleaseCornerSeekObj"},
    {"tiltsense_pc", "GetTiltSenseObj", "ReleaseTiltSenseObj"},
    {"pic_category_pc", "GetCategoryTaggerObj", "ReleaseCategoryTaggerObj"},
    {"tone_filter_pc", "GetToneFilterObj", "ReleaseToneFilterObj"},
    {"plainbackdrop_pc", "GetPlainBackdropObj", "ReleasePlainBackdropObj"},
    {"docsorter_pc", "GetDocSorterObj", "ReleaseDocSorterObj"},
};

constexpr const char *None = "None";

bool inRange(int method)
{
    return method >= 0 && method < AnalysisMethodCount;
}
} // namespace

QString methodName(int method)
{
    return QLatin1String(inRange(method) ? Methods[method].name : None);
}

const char *methodFactoryExport(int method)
{
    return inRange(method) ? Methods[method].factory : None;
}

const char *methodReleaseExport(int method)
{
    return inRange(method) ? Methods[method].release : None;
}

QList<AnalysisMethod> methodsFromNames(const QStringList &names)
{
    QList<AnalysisMethod> methods;
    for (const QString &name : names) {
        for (int m = 0; m < AnalysisMethodCount; ++m) {
            if (name == QLatin1String(Methods[m].name)) {
                methods << AnalysisMethod(m);
                break;
            }
        }
    }
    return methods;
}
