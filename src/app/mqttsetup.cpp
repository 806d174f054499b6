#include "mqttsetup.h"

#include "mqttdialog.h"
#include "mqttpassword.h"
#include "mqttpublisher.h"

#include <QLabel>

void runMqttSetup(QWidget* parent, MqttPublisher& mqtt)
{
    MqttDialog dialog(parent);
    dialog.setSettings(mqtt.settings());
    dialog.setPasswordFixed(MqttPassword::fromEnvironment());
    dialog.setStatus(mqtt.statusText());
    QObject::connect(&mqtt, &MqttPublisher::statusChanged, &dialog, &MqttDialog::setStatus);
    if (dialog.exec() != QDialog::Accepted)
        return;
    MqttSettings settings = dialog.settings();
    if (MqttPassword::fromEnvironment())
        settings.password = MqttPassword::load(settings.host, settings.user);
    else
        MqttPassword::store(settings.host, settings.user, settings.password);
    mqtt.configure(settings);
}

QLabel* mqttStatusLabel(MqttPublisher& mqtt)
{
    auto* label = new QLabel(mqtt.statusText());
    label->setObjectName(QStringLiteral("lblMqttStatus"));
    label->hide();
    QObject::connect(&mqtt, &MqttPublisher::statusChanged, label, [label, &mqtt](const QString& text) {
        label->setText(text);
        label->setVisible(mqtt.isEnabled());
    });
    return label;
}
