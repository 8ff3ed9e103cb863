#include "PSGSettings.h"

PSGSettings::PSGSettings(QObject *parent)
    : QObject(parent), m_settings(QSettings::NativeFormat, QSettings::UserScope,
                                  QStringLiteral("ormelo"), QStringLiteral("office"))
{
    for (const char *group : {"6.0", "plugins", "photo", "picsage"})
        m_settings.beginGroup(QLatin1String(group));
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
