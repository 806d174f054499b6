#ifndef MQTTPASSWORD_H
#define MQTTPASSWORD_H

#include <QString>

// The MQTT password lives apart from the settings files, which users pass on:
// in the user's own configuration (QSettings, user scope, readable by the user
// only), per broker and user name, or in the environment.
class MqttPassword
{
public:
    static const char* const EnvironmentVariable;   // "ORVANE_MQTT_PASSWORD"

    // The environment's password when the variable is set, else the stored one.
    static QString load(const QString& host, const QString& user);
    static bool fromEnvironment();
    // An empty password removes the stored one.
    static void store(const QString& host, const QString& user, const QString& password);
};

#endif
