#ifndef MAINWIN_H
#define MAINWIN_H

#include "cominterface.h"
#include "modulesetup.h"
#include "rangingsample.h"

#include <QByteArray>
#include <QMainWindow>
#include <QMap>
#include <QMutex>
#include <QPen>
#include <QFont>
#include <QTranslator>
#include <QVector2D>

#include <functional>

namespace Ui { class MainWin; }
class DiscoverWin;
class CommandWin;
class MasterInfo;
class QTimer;
class QImage;
class QPixmap;
class QMouseEvent;

bool parseInt(const QString& text, int& value);

// The main window: owns the serial link, the module records, the ranging
// histories and the chart, and runs every command exchange with the master.
class MainWin : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWin(QWidget* parent = nullptr);
    ~MainWin() override;

    // --- serial link and protocol (members public so tests and fuzzers can drive them)
    Ui::MainWin* ui = nullptr;
    ComInterface com;
    QByteArray rxBuffer;
    RangingHistory rangingHistory;
    DiscoverWin* discoverWin = nullptr;
    CommandWin* commandWin = nullptr;
    QTimer* redrawTimer = nullptr;
    ModuleSetup modules;
    int averageCount = 10;
    QMutex exchangeMutex;
    bool awaitingReply = false;
    bool looseReply = false;
    bool replyOk = false;
    bool rangingActive = false;
    MasterInfo* masterInfo = nullptr;
    bool tablesInSync = false;

    // Time of day for sample arrival and expiry, replaceable so tests can cross midnight.
    std::function<QTime()> timeOfDay;

    bool sendCommand(const QByteArray& command, bool loose);
    void processLines(const QByteArray& chunk);
    void refreshComPorts();
    void connectPort();
    void disconnectPort();
    void fillAnchorTable();
    void fillTagTable();
    void readAnchorTable();
    void readTagTable();
    void updateAnchorComboColors();
    void updateTagComboColors();
    void updateCalibrationButtons();

signals:
    void discoverPacket(QByteArray packet);
    void commandResult(bool ok);

public slots:
    void dataReceived(QByteArray data);
    void executeCommand(QByteArray command, bool loose);
    void redrawChart();

private slots:
    void on_btnRefreshComPorts_clicked();
    void on_btnConnect_clicked();
    void on_btnDisconnect_clicked();
    void on_btnStartRanging_clicked();
    void on_btnDiscovery_clicked();
    void on_btnSendCommand_clicked();
    void on_btnAbout_clicked();
    void on_cmbLastMeasures_currentIndexChanged(int index);

    void on_tblAnker_cellChanged(int row, int column);
    void tableAnkerCheckboxToggled(bool state);
    void tableAnkerComboBoxSelected(int index);
    void on_tblTags_cellChanged(int row, int column);
    void tableTagsCheckboxToggled(bool state);
    void tableTagsComboBoxSelected(int index);

    void portLost();

private:
    void setConnectedControls(bool connected);
    void finishDisconnect();
    void handleRangingLine(const QByteArray& line);
    QTranslator translator;
};

#endif
