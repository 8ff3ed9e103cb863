#pragma once

#include "AnalysisResult.h"
#include "picsage_global.h"

#include <QString>
#include <QStringList>

#include <functional>

// The analysis for programs that go through many pictures (picsage-analyse): the same run as
// the one-picture tool, but each record goes to the caller instead of the settings store.

// Called after each method with the method's name and its record, the record being what the
// one-picture tool would store (AnalysisResult::toJson).
using AnalysisRecordSink = std::function<void(const QString &method, const AnalysisResult &record)>;

// "cornerseek_pc" ... "docsorter_pc", the names --method takes.
PICSAGE_EXPORT QStringList analysisMethodNames();

// Runs the named methods on the picture in the tool's order, with the tool's follow-up when
// `autoFollowUp`, the tool's codes and messages. Unknown names are dropped. The settings
// store is never opened. Returns what the tool would end with (-2 for a missing picture is
// the caller's to check).
PICSAGE_EXPORT int analyseForRecords(const QStringList &methods, const QString &path,
                                     bool autoFollowUp, const AnalysisRecordSink &sink);
