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
    // Inserting at the top keeps the item inserted first current, so the
    // dialog opens on the last tag (or the last anchor when there are no tags).
    for (int i = modules->tags.size() - 1; i >= 0; --i) {
        const Tag& tag = modules->tags.at(i);
        ui->cmbModule->insertItem(0, QStringLiteral("%1 [ %2 ]").arg(tag.name, tag.id), tag.id);
    }
    for (int i = modules->anchors.size() - 1; i >= 0; --i) {
        const Anchor& anchor = modules->anchors.at(i);
        ui->cmbModule->insertItem(0, QStringLiteral("%1 [ %2 ]").arg(anchor.name, anchor.id), anchor.id);
    }
    ui->cmbModule->insertItem(0, tr("alle"), QStringLiteral("FFFF"));
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

    if (code < 0) {
        QMessageBox::warning(this, tr("Befehl senden"), tr("Sie müssen zuerst einen Befehl auswählen!"),
                             QMessageBox::Ok);
        return;
    }
    if (parameter < 0) {
        QMessageBox::warning(this, tr("Befehl senden"), tr("Sie müssen die Parameter spezifizieren!"),
                             QMessageBox::Ok);
        return;
    }

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
