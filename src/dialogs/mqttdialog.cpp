#include "mqttdialog.h"
#include "ui_mqttdialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QIntValidator>
#include <QMessageBox>

MqttDialog::MqttDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::MqttDialog)
{
    ui->setupUi(this);
    ui->edtPort->setValidator(new QIntValidator(1, 65535, ui->edtPort));
    chooseCAFile = [this] {
        return QFileDialog::getOpenFileName(this, tr("CA-Datei wählen"), QString(),
                                            tr("Zertifikate (*.crt *.pem);;alle Dateien (*.*)"));
    };
    setSettings(MqttSettings());
}

MqttDialog::~MqttDialog()
{
    delete ui;
}

void MqttDialog::setSettings(const MqttSettings& s)
{
    ui->chkEnabled->setChecked(s.enabled || ui->chkEnabled->isHidden());
    ui->edtHost->setText(s.host);
    ui->edtPort->setText(QString::number(s.port));
    ui->edtPrefix->setText(s.prefix);
    ui->edtClientId->setText(s.clientId);
    ui->edtUser->setText(s.user);
    ui->edtPassword->setText(s.password);
    ui->chkTls->setChecked(s.tls);
    ui->edtCAFile->setText(s.caFile);
    ui->edtKitName->setText(s.kitName);
    on_chkTls_toggled(s.tls);
}

MqttSettings MqttDialog::settings() const
{
    MqttSettings s;
    s.enabled = ui->chkEnabled->isChecked();
    s.host = ui->edtHost->text().trimmed();
    s.port = ui->edtPort->text().toInt();
    s.prefix = ui->edtPrefix->text().trimmed();
    if (s.prefix.isEmpty())
        s.prefix = MqttSettings().prefix;
    s.clientId = ui->edtClientId->text().trimmed();
    s.user = ui->edtUser->text().trimmed();
    s.password = ui->edtPassword->text();
    s.tls = ui->chkTls->isChecked();
    s.caFile = ui->edtCAFile->text().trimmed();
    s.kitName = ui->edtKitName->text().trimmed();
    return s;
}

void MqttDialog::setPasswordFixed(bool fixed)
{
    ui->edtPassword->setEnabled(!fixed);
    ui->lblPasswordHint->setText(fixed ? tr("Aus der Umgebungsvariablen ORVANE_MQTT_PASSWORD.")
                                       : tr("Wird nicht in Einstellungsdateien gespeichert."));
}

void MqttDialog::setListenOnly()
{
    ui->chkEnabled->setChecked(true);
    for (QWidget* w : {static_cast<QWidget*>(ui->chkEnabled), static_cast<QWidget*>(ui->lblKitName),
                       static_cast<QWidget*>(ui->edtKitName), static_cast<QWidget*>(ui->edtClientId),
                       static_cast<QWidget*>(ui->lblClientId)})
        w->hide();
    setWindowTitle(tr("MQTT: Standortansicht"));
}

void MqttDialog::setStatus(const QString& text)
{
    ui->lblStatus->setText(text);
}

void MqttDialog::on_btnOk_clicked()
{
    const MqttSettings s = settings();
    QString problem;
    if (s.enabled && s.host.isEmpty())
        problem = tr("Bitte einen Broker (Host) angeben!");
    else if (s.port < 1 || s.port > 65535)
        problem = tr("Der Port muss zwischen 1 und 65535 liegen!");
    else if (s.prefix.contains(QLatin1Char('#')) || s.prefix.contains(QLatin1Char('+')))
        problem = tr("Das Topic-Präfix darf weder '#' noch '+' enthalten!");
    else if (s.tls && !s.caFile.isEmpty() && !QFileInfo(s.caFile).isFile())
        problem = tr("Die CA-Datei '%1' existiert nicht!").arg(s.caFile);
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("MQTT"), problem, QMessageBox::Ok);
        return;
    }
    accept();
}

void MqttDialog::on_btnCancel_clicked()
{
    reject();
}

void MqttDialog::on_btnCAFile_clicked()
{
    const QString path = chooseCAFile();
    if (!path.isEmpty())
        ui->edtCAFile->setText(path);
}

void MqttDialog::on_chkTls_toggled(bool on)
{
    ui->edtCAFile->setEnabled(on);
    ui->btnCAFile->setEnabled(on);
}
