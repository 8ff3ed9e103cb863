#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The analysis methods. Their names are the command-line names, the model folder names and
// part of the stored value names; the numbers key the module's cached objects.
enum AnalysisMethod : int {
    CornerSeek = 0,
    TiltSense = 1,
    PicCategory = 2,
    ToneFilter = 3,
    PlainBackdrop = 4,
    DocSorter = 5,
    MethodNone = 6,
};

constexpr int AnalysisMethodCount = 6;

// "cornerseek_pc" ... "docsorter_pc"; "None" for MethodNone and anything out of range.
QString methodName(int method);
// The module's factory and release export names of a method; "None" out of range.
const char *methodFactoryExport(int method);
const char *methodReleaseExport(int method);

// Exact, case-sensitive names map to methods; anything else is dropped. Order and
// repetitions are kept.
QList<AnalysisMethod> methodsFromNames(const QStringList &names);
