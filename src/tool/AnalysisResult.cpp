#include "AnalysisResult.h"

#include <QJsonDocument>
#include <QJsonObject>

QString AnalysisResult::toJson() const
{
    const QJsonObject object{
        {QStringLiteral("ret"), int(ret)},
        {QStringLiteral("confidence"), double(confidence)},
        {QStringLiteral("msg"), msg},
    };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}
