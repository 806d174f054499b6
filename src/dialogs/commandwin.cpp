#include "commandwin.h"
#include "ui_commandwin.h"

#include "modulesetup.h"

#include <QMessageBox>

namespace {

// Command codes of the master's LED command.
constexpr int codeTxLed = 1;
constexpr int codeRxLed = 2;

} // namespace

CommandWin::CommandWin(QWidget* parent)
    : QDialog(parent), ui(new Ui::CommandWin)
{
    ui->setupUi(this);
    // Sending needs a command and its parameter; until both are chosen the
    // button says so by being off.
    for (QRadioButton* b : {ui->rbRXLED, ui->rbTXLED, ui->rbLEDon, ui->rbLEDoff})
        connect(b, &QRadioButton::toggled, this, &CommandWin::updateSendButton);
    updateSendButton();
}

void CommandWin::updateSendButton()
{
    ui->btnSendCommand->setEnabled((ui->rbTXLED->isChecked() || ui->rbRXLED->isChecked())
                                   && (ui->rbLEDon->isChecked() || ui->rbLEDoff->isChecked()));
}

CommandWin::~CommandWin()
{
    delete ui;
}

void CommandWin::setModules(ModuleSetup* setup)
{
    modules = setup;
    if (!modules)
        return;
    for (int i = modules->tags.size() - 1; i >= 0; --i) {
        const Tag& tag = modules->tags.at(i);
        ui->cmbModule->insertItem(0, QStringLiteral("%1 [ %2 ]").arg(tag.name, tag.id), tag.id);
    }
    for (int i = modules->anchors.size() - 1; i >= 0; --i) {
        const Anchor& anchor = modules->anchors.at(i);
        ui->cmbModule->insertItem(0, QStringLiteral("%1 [ %2 ]").arg(anchor.name, anchor.id), anchor.id);
    }
    ui->cmbModule->insertItem(0, tr("alle"), QStringLiteral("FFFF"));
    // Every module by default: the LED test usually asks who answers at all.
    ui->cmbModule->setCurrentIndex(0);
}

void CommandWin::on_rbTXLED_clicked()
{
    ui->pnlOptions->setCurrentWidget(ui->page_LED);
}

void CommandWin::on_rbRXLED_clicked()
{
    ui->pnlOptions->setCurrentWidget(ui->page_LED);
}

void CommandWin::on_cmbModule_currentIndexChanged(int /*index*/)
{
    ui->rbRXLED->setEnabled(true);
    ui->rbTXLED->setEnabled(true);
}

void CommandWin::on_btnSendCommand_clicked()
{
    int code = -1;
    if (ui->rbTXLED->isChecked())
        code = codeTxLed;
    else if (ui->rbRXLED->isChecked())
        code = codeRxLed;
    int parameter = -1;
    if (ui->rbLEDon->isChecked())
        parameter = 1;
    else if (ui->rbLEDoff->isChecked())
        parameter = 0;

    if (code < 0 || parameter < 0)
        return;   // the button is off until both are chosen

    // The id goes out exactly as the record holds it.
    const QString command = QStringLiteral("$PH,%1,%2,%3,\r\n")
                                .arg(ui->cmbModule->currentData(Qt::UserRole).toString(),
                                     QString::number(code, 16).toUpper(),
                                     QString::number(parameter, 16).toUpper());
    emit executeCommand(command.toLatin1(), false);
}

void CommandWin::commandResult(bool ok)
{
    if (ok) {
        failureReason.clear();
        QMessageBox::information(this, tr("Befehl senden"), tr("Befehl wurde ausgeführt"), QMessageBox::Ok);
        return;
    }
    QMessageBox box(QMessageBox::Warning, tr("Befehl senden"), tr("Fehler: Befehl wurde nicht ausgeführt"), QMessageBox::Ok, this);
    box.setInformativeText(failureReason);
    failureReason.clear();
    box.exec();
}
