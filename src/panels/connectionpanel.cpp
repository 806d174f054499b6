#include "connectionpanel.h"
#include "ui_connectionpanel.h"

ConnectionPanel::ConnectionPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::ConnectionPanel)
{
    ui->setupUi(this);
    connect(ui->btnRefreshComPorts, &QPushButton::clicked, this, &ConnectionPanel::refreshRequested);
    connect(ui->btnConnect, &QPushButton::clicked, this, &ConnectionPanel::connectRequested);
    connect(ui->btnDisconnect, &QPushButton::clicked, this, &ConnectionPanel::disconnectRequested);
    connect(ui->btnStartRanging, &QPushButton::clicked, this, &ConnectionPanel::rangingRequested);
    connect(ui->btnSendCommand, &QPushButton::clicked, this, &ConnectionPanel::sendCommandRequested);
    connect(ui->btnAbout, &QPushButton::clicked, this, &ConnectionPanel::aboutRequested);
    ui->btnDisconnect->setEnabled(false);
    ui->btnStartRanging->setEnabled(false);
    ui->btnSendCommand->setEnabled(false);
    ui->lblBaud->hide();
    ui->edtBaud->hide();
}

ConnectionPanel::~ConnectionPanel()
{
    delete ui;
}

void ConnectionPanel::clearPorts() { ui->cmbComPort->clear(); }

void ConnectionPanel::addPort(const QString& text, const QString& path)
{
    if (path.isEmpty())
        ui->cmbComPort->addItem(text);
    else
        ui->cmbComPort->addItem(text, path);
}

bool ConnectionPanel::hasPort(const QString& pathOrText) const
{
    return ui->cmbComPort->findText(pathOrText) >= 0 || ui->cmbComPort->findData(pathOrText) >= 0;
}

QString ConnectionPanel::chosenPortPath() const
{
    const QComboBox* box = ui->cmbComPort;
    const QString text = box->currentText();
    const int index = box->currentIndex();
    if (index >= 0 && text == box->itemText(index)) {
        const QString path = box->itemData(index).toString();
        if (!path.isEmpty())
            return path;
    }
    return text;
}

void ConnectionPanel::setPortText(const QString& text) { ui->cmbComPort->setEditText(text); }
QString ConnectionPanel::baudText() const { return ui->edtBaud->text(); }

void ConnectionPanel::setConnected(bool connected)
{
    ui->btnConnect->setEnabled(!connected);
    ui->btnDisconnect->setEnabled(connected);
    ui->btnRefreshComPorts->setEnabled(!connected);
    ui->cmbComPort->setEnabled(!connected);
    ui->edtBaud->setEnabled(!connected);
    ui->btnStartRanging->setEnabled(connected);
    ui->lblConnectionState->setText(connected ? tr("verbunden") : tr("nicht verbunden"));
    if (!connected)
        ui->btnStartRanging->setText(tr("Ranging starten"));
}

void ConnectionPanel::setRanging(bool ranging)
{
    ui->btnStartRanging->setText(ranging ? tr("Ranging stoppen") : tr("Ranging starten"));
    ui->btnSendCommand->setEnabled(ranging);
}

void ConnectionPanel::setSendingBlocked()
{
    for (QWidget* b : {static_cast<QWidget*>(ui->btnConnect), static_cast<QWidget*>(ui->btnDisconnect),
                       static_cast<QWidget*>(ui->btnRefreshComPorts), static_cast<QWidget*>(ui->cmbComPort),
                       static_cast<QWidget*>(ui->btnStartRanging), static_cast<QWidget*>(ui->btnSendCommand)})
        b->setEnabled(false);
}

void ConnectionPanel::setSendCommandEnabled(bool on) { ui->btnSendCommand->setEnabled(on); }
bool ConnectionPanel::isConnectedShown() const { return ui->btnDisconnect->isEnabled(); }
