#pragma once

#include "AnalysisMethod.h"

#include <QObject>
#include <QSettings>

// The per-user store where the viewer reads the analysis results (ResultStore.h says
// where), one value per method.
class PSGSettings : public QObject
{
    Q_OBJECT
public:
    explicit PSGSettings(QObject *parent = nullptr);

    static QString resultKey(int method); // "Psg_Ret-" + name + "3"

    // Stores and flushes at once: the command-line process ends through exit().
    void setResult(int method, const QString &json);

private:
    QSettings m_settings;
};
