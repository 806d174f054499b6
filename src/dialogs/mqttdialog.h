#ifndef MQTTDIALOG_H
#define MQTTDIALOG_H

#include "mqttsettings.h"

#include <QDialog>

#include <functional>

namespace Ui {
class MqttDialog;
}

// The modal "MQTT" dialog: broker, topic prefix, login, TLS and the switch
// for publishing the positions. It only edits settings; the caller applies them.
class MqttDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MqttDialog(QWidget* parent);
    ~MqttDialog() override;

    void setSettings(const MqttSettings& settings);
    MqttSettings settings() const;
    // The password comes from the environment and cannot be edited here.
    void setPasswordFixed(bool fixed);
    // For the site view, which only listens: no switch for publishing, no kit name.
    void setListenOnly();

    // File chooser for the CA file, replaceable so tests need no native dialog.
    std::function<QString()> chooseCAFile;

public slots:
    void setStatus(const QString& text);

private slots:
    void on_btnOk_clicked();
    void on_btnCancel_clicked();
    void on_btnCAFile_clicked();
    void on_chkTls_toggled(bool on);

private:
    Ui::MqttDialog* ui;
};

#endif
