#pragma once

#include "AnalysisMethod.h"

#include <QList>
#include <QString>

#include <functional>

class PicsageTool;

// Runs the methods in order on one picture and stores each method's result; a negative
// code stops the list. With `autoFollowUp`, a category answer that names a document kind
// also runs docsorter_pc. Calls from several threads are serialised. Returns the last
// code, -3 (PictureNotDecoded) when the picture does not decode, or -1 for an empty list.
int runAnalysis(const QList<AnalysisMethod> &methods, const QString &path, bool autoFollowUp);

// The same run on a tool without the settings store: `finished` sees the tool after each
// method (and after the follow-up), where runAnalysis stores the record.
int runAnalysisWith(const QList<AnalysisMethod> &methods, const QString &path, bool autoFollowUp,
                    const std::function<void(PicsageTool &)> &finished);
