#include "BatchAnalysis.h"

#include "AnalysisMethod.h"
#include "PicsageTool.h"
#include "RunAnalysis.h"

QStringList analysisMethodNames()
{
    QStringList names;
    for (int m = 0; m < AnalysisMethodCount; ++m)
        names << methodName(m);
    return names;
}

int analyseForRecords(const QStringList &methods, const QString &path, bool autoFollowUp,
                      const AnalysisRecordSink &sink)
{
    return runAnalysisWith(
        methodsFromNames(methods), path, autoFollowUp,
        [&sink](PicsageTool &tool) { sink(methodName(tool.method()), tool.result()); });
}
