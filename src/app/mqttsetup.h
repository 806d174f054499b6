#ifndef MQTTSETUP_H
#define MQTTSETUP_H

class MqttPublisher;
class QLabel;
class QWidget;

// Runs the MQTT dialog on the publisher's settings and applies what the user
// accepts; the password is stored apart from the settings unless the environment gives it.
void runMqttSetup(QWidget* parent, MqttPublisher& mqtt);

// The output's status for the status bar (lblMqttStatus), shown while it is enabled.
QLabel* mqttStatusLabel(MqttPublisher& mqtt);

#endif
