#include "PSGSettings.h"

#include "ResultStore.h"

PSGSettings::PSGSettings(QObject *parent)
    : QObject(parent), m_settings(QSettings::NativeFormat, QSettings::UserScope,
                                  resultstore::organisation(), resultstore::application())
{
    m_settings.beginGroup(resultstore::group());
}

QString PSGSettings::resultKey(int method)
{
    return QStringLiteral("Psg_Ret-") + methodName(method) + QLatin1Char('3');
}

void PSGSettings::setResult(int method, const QString &json)
{
    m_settings.setValue(resultKey(method), json);
    m_settings.sync();
}
