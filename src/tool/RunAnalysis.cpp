#include "RunAnalysis.h"

#include "PicsageTool.h"

#include <QMutex>

namespace {
// Held for a whole run: the module's objects are shared and not made for concurrent use.
QMutex PicsageToolMutex;

// The category codes that name a kind of document.
bool isDocumentCategory(int code)
{
    switch (code) {
    case 0:
    case 3:
    case 4:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 13:
    case 15:
        return true;
    default:
        return false;
    }
}
} // namespace

namespace {
int runMethods(PicsageTool &tool, const QList<AnalysisMethod> &methods, const QString &path,
               bool autoFollowUp, const std::function<void(PicsageTool &)> &finished)
{
    tool.setPathname(path);
    int code = -1;
    for (const AnalysisMethod method : methods) {
        tool.setMethod(method);
        code = tool.run();
        finished(tool);
        if (code < 0) break;
        if (autoFollowUp && method == PicCategory && isDocumentCategory(tool.result().ret)) {
            tool.setMethod(DocSorter);
            if (tool.checkModel()) code = tool.run();
            finished(tool);
            if (code < 0) break;
        }
    }
    return code;
}
} // namespace

int runAnalysis(const QList<AnalysisMethod> &methods, const QString &path, bool autoFollowUp)
{
    QMutexLocker locker(&PicsageToolMutex);
    PicsageTool tool;
    return runMethods(tool, methods, path, autoFollowUp,
                      [](PicsageTool &done) { done.saveResult(); });
}

int runAnalysisWith(const QList<AnalysisMethod> &methods, const QString &path, bool autoFollowUp,
                    const std::function<void(PicsageTool &)> &finished)
{
    QMutexLocker locker(&PicsageToolMutex);
    PicsageTool tool(PicsageTool::WithoutStore);
    return runMethods(tool, methods, path, autoFollowUp, finished);
}
