#pragma once

#include "AnalysisMethod.h"

#include <QList>
#include <QString>

// Runs the methods in order on one picture and stores each method's result; a negative
// code stops the list. With `autoFollowUp`, a category answer that names a document kind
// also runs docsorter_pc. Calls from several threads are serialised. Returns the last
// code, -3 (PictureNotDecoded) when the picture does not decode, or -1 for an empty list.
int runAnalysis(const QList<AnalysisMethod> &methods, const QString &path, bool autoFollowUp);
