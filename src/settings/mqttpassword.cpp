#include "mqttpassword.h"
#include "utf8settings.h"

#include <QFile>
#include <QSettings>

const char* const MqttPassword::EnvironmentVariable = "ORVANE_MQTT_PASSWORD";

namespace {

const QString Organisation = QStringLiteral("Fenwright");
const QString Application = QStringLiteral("Orvane");

QString key(const QString& host, const QString& user)
{
    // '/' would open a group and '\' is QSettings' escape character.
    QString id = user.trimmed() + QLatin1Char('@') + host.trimmed();
    id.replace(QLatin1Char('/'), QLatin1Char('_'));
    id.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QStringLiteral("MQTT-Password/") + id;
}

} // namespace

bool MqttPassword::fromEnvironment()
{
    return qEnvironmentVariableIsSet(EnvironmentVariable);
}

QString MqttPassword::load(const QString& host, const QString& user)
{
    if (fromEnvironment())
        return qEnvironmentVariable(EnvironmentVariable);
    const Utf8Settings config(QSettings::NativeFormat, QSettings::UserScope, Organisation, Application);
    return config.value(key(host, user)).toString();
}

void MqttPassword::store(const QString& host, const QString& user, const QString& password)
{
    Utf8Settings config(QSettings::NativeFormat, QSettings::UserScope, Organisation, Application);
    if (password.isEmpty())
        config.remove(key(host, user));
    else
        config.setValue(key(host, user), password);
    config.sync();
    QFile::setPermissions(config.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}
