#ifndef COMMANDWIN_H
#define COMMANDWIN_H

#include <QByteArray>
#include <QDialog>

class ModuleSetup;

namespace Ui {
class CommandWin;
}

// The modal "Befehl senden" dialog: switches the RX or TX LED of one module,
// or of all of them, on or off. Commands go out through executeCommand; the
// result arrives through commandResult while that emit is still running.
class CommandWin : public QDialog
{
    Q_OBJECT

public:
    explicit CommandWin(QWidget* parent);
    ~CommandWin() override;

    void setModules(ModuleSetup* modules);

signals:
    void executeCommand(QByteArray command, bool loose);

public slots:
    void commandResult(bool ok);
    // The reason for the failure that commandResult(false) reports next.
    void commandFailed(const QString& reason) { failureReason = reason; }

private slots:
    void updateSendButton();
    void on_cmbModule_currentIndexChanged(int index);
    void on_btnSendCommand_clicked();
    void on_rbRXLED_clicked();
    void on_rbTXLED_clicked();

private:
    Ui::CommandWin* ui;
    ModuleSetup* modules = nullptr;
    QString failureReason;
};

#endif
