#ifndef DISCOVERWIN_H
#define DISCOVERWIN_H

#include "discoverytypes.h"
#include "rolecells.h"

#include <QByteArray>
#include <QColor>
#include <QDialog>
#include <QMap>
#include <QString>

class ModuleSetup;
class QCloseEvent;
class QTableWidget;

namespace Ui {
class DiscoverWin;
}

// The modal "Module konfigurieren" dialog: discovers the modules on the air,
// lets the user assign roles, names, colours and positions, and uploads the
// checked result to the master. It never touches the port itself: every
// command goes out through executeCommand and its result comes back, still
// inside that emit, through commandResult.
class DiscoverWin : public QDialog
{
    Q_OBJECT

public:
    explicit DiscoverWin(QWidget* parent);
    ~DiscoverWin() override;

    void setModules(ModuleSetup* modules);

    DiscoveryState currentState() const { return state; }
    QTableWidget* table() const;

    // Upper bound on the rows that discovery packets may add, so that a
    // corrupt or hostile packet cannot flood the dialog.
    static constexpr int maxDiscoveredRows = 256;

signals:
    void executeCommand(QByteArray command, bool loose);

public slots:
    void discoverPacket(QByteArray packet);
    void commandResult(bool ok);
    // The reason for the failure that commandResult(false) reports next.
    void commandFailed(const QString& reason) { failureReason = reason; }

private slots:
    void on_btnFinishDiscovery_clicked();
    void on_btnCancelDiscovery_clicked();
    void on_btnStartDiscovery_clicked();
    void on_btnResetConfiguration_clicked();
    void colorComboSelected(int index);
    void on_addDummys_clicked();

public slots:
    // Escape goes through the same questions as the window's close button.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct RowCells {
        QString id;
        bool idEditable = true;
        int role = RoleNotUsed;
        QString name;
        QString x, y, z;
        QColor color;
        bool flags[7] = {false, false, false, false, false, false, false};
        QString offset;
        QColor idBackground;
    };

    void appendRow(const RowCells& cells);
    QString cellText(int row, int column) const;
    int cellInt(int row, int column) const;
    void updateButtons();
    void warn(const QString& title, const QString& text);
    // What "Übernehmen" would make of the table, to tell whether leaving loses anything.
    QString configurationSnapshot() const;

    Ui::DiscoverWin* ui;
    DiscoveryState state = DiscoveryState::Idle;
    QMap<QString, int> roleNames;
    bool configurationReset = false;
    bool closeAllowed = false;
    bool closeAfterStop = false;   // leaving waits for discovery to stop
    QString initialSnapshot;
    ModuleSetup* modules = nullptr;
    QString failureReason;
};

#endif
