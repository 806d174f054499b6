#include "connectionpanel.h"
#include "ui_connectionpanel.h"

#include <QSettings>

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
    // Whether a port that comes back is connected without asking; kept for the next start.
    ui->chkAutoReconnect->setChecked(QSettings().value(QStringLiteral("Verbindung/AutomatischNeuVerbinden")).toBool());
    connect(ui->chkAutoReconnect, &QCheckBox::toggled, this,
            [](bool on) { QSettings().setValue(QStringLiteral("Verbindung/AutomatischNeuVerbinden"), on); });
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

void ConnectionPanel::showControls(bool connect, bool disconnect, bool ranging, const QString& rangingText,
                                   bool sendCommand, const QString& connectionText)
{
    ui->btnConnect->setEnabled(connect);
    ui->btnRefreshComPorts->setEnabled(connect);
    ui->cmbComPort->setEnabled(connect);
    ui->edtBaud->setEnabled(connect);
    ui->btnDisconnect->setEnabled(disconnect);
    ui->btnStartRanging->setEnabled(ranging);
    ui->btnStartRanging->setText(rangingText);
    ui->btnSendCommand->setEnabled(sendCommand);
    ui->lblConnectionState->setText(connectionText);
}

bool ConnectionPanel::autoReconnect() const { return ui->chkAutoReconnect->isChecked(); }
