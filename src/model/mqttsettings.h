#ifndef MQTTSETTINGS_H
#define MQTTSETTINGS_H

#include <QString>

// Where and how the positions are published over MQTT. Everything but the
// password travels in settings files; the password stays with the user.
struct MqttSettings
{
    static constexpr int DefaultPort = 1883;

    bool enabled = false;
    QString host = QStringLiteral("localhost");
    int port = DefaultPort;
    QString prefix = QStringLiteral("orvane");   // first topic level(s)
    QString clientId;                            // empty: the library makes one up
    QString user;                                // empty: no login
    QString password;                            // never written to a settings file
    bool tls = false;
    QString caFile;                              // empty with TLS: the system's CAs
    QString kitName;                             // the kit's name on a site; empty: the master's id

    bool operator==(const MqttSettings& o) const
    {
        return enabled == o.enabled && host == o.host && port == o.port && prefix == o.prefix
            && clientId == o.clientId && user == o.user && password == o.password && tls == o.tls
            && caFile == o.caFile && kitName == o.kitName;
    }
    bool operator!=(const MqttSettings& o) const { return !(*this == o); }
};

#endif
