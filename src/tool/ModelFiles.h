#pragma once

#include <QFileInfoList>
#include <QString>
#include <QStringList>

// "<library folder>/model" in native separators, computed once per process.
QString modelRoot();
// The folder of one method's model files below the model root.
QString modelDirectory(int method);

// Walks candidate files in the given order: a ".txt" fills element 1, a ".tflite" element 0
// (suffixes compared in lower case); a later file replaces an earlier one of its kind until
// both are found. Returns {model path, text path}, each absolute or empty.
QStringList pickModelFiles(const QFileInfoList &candidates);
