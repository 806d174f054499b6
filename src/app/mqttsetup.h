#ifndef MQTTSETUP_H
#define MQTTSETUP_H

class MqttPublisher;
class QWidget;

// Runs the MQTT dialog on the publisher's settings and applies what the user
// accepts; the password is stored apart from the settings unless the environment gives it.
void runMqttSetup(QWidget* parent, MqttPublisher& mqtt);

#endif
