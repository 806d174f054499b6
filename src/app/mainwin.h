#ifndef MAINWIN_H
#define MAINWIN_H

#include "calibration.h"
#include "chartdrawing.h"
#include "chartgeometry.h"
#include "chartpens.h"
#include "cominterface.h"
#include "modulesetup.h"
#include "parseint.h"
#include "mqttpublisher.h"
#include "positioningstep.h"
#include "rangingsample.h"
#include "chartbackground.h"
#include "chartframe.h"
#include "filechoice.h"
#include "masterexchange.h"
#include "accuracycheckflow.h"
#include "offsetcalibrationflow.h"
#include "calibrationflow.h"
#include "chartviewflow.h"
#include "connectionflow.h"
#include "modulespanel.h"
#include "recordingflow.h"
#include "settingsflow.h"
#include "viewpanel.h"
#include "recording.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QHash>
#include <QMap>
#include <QPair>
#include <QMutex>
#include <QPen>
#include <QStatusBar>
#include <QFont>
#include <QTranslator>
#include <QVector2D>

#include <functional>

namespace Ui { class MainWin; }
class DiscoverWin;
class CommandWin;
class MasterInfo;
class WindowLayout;
class ConnectionPanel;
class ToolsPanel;
class AnchorSurveyFlow;
class RecordingPanel;
class ReplayTimeline;
class LinkQualityDialog;
class ZonesPanel;
class EventsPanel;
class ZoneEditFlow;
class QLabel;
class QTimer;
class QImage;
class QPixmap;
class QMouseEvent;



// The main window: owns the serial link, the module records, the ranging
// histories and the chart, and runs every command exchange with the master.
class MainWin : public QMainWindow
{
    Q_OBJECT
    // Before rangingHistory, which refers into it.
    PositioningStep positioning;     // expiry, averaging, solving, filtering, speed, rate

public:
    explicit MainWin(QWidget* parent = nullptr);
    ~MainWin() override;

    // --- the members the other parts of the program share
    Ui::MainWin* ui = nullptr;
    ComInterface com;
    MasterExchange exchange{this, com};
    QByteArray rxBuffer;
    RangingHistory& rangingHistory;  // the positioning step's histories
    DiscoverWin* discoverWin = nullptr;
    CommandWin* commandWin = nullptr;
    QTimer* redrawTimer = nullptr;
    ModuleSetup modules;
    int averageCount = 10;
    bool rangingActive = false;
    MasterInfo* masterInfo = nullptr;

    // --- chart state
    ChartGeometry chartGeo;          // gridX/Y/W/H, originX/Y, cmPerPixel, pixmap size, grid steps
    ChartPens pens;                  // anchorPen, masterRingPen, ... and labelFont
    bool gridDirty = true;
    ChartFrame frame;                // the grid layer and the last frame (chartPixmap, gridPixmap)
    QPixmap* blankPixmap = nullptr;
    ChartBackground background;      // bgImage, its placement, imageGrid*, calibration, mouseMode

    // The side panel's parts, and the flows that run across them.
    ConnectionPanel* connectionPanel = nullptr;
    ModulesPanel* modulesPanel = nullptr;
    ViewPanel* viewPanel = nullptr;
    ToolsPanel* toolsPanel = nullptr;
    RecordingPanel* recordingPanel = nullptr;
    ZonesPanel* zonesPanel = nullptr;
    EventsPanel* eventsPanel = nullptr;   // the "Ereignisse" list under the chart
    ChartViewFlow* chartViewFlow() const { return chartView; }
    ZoneEditFlow* zoneEditFlow() const { return zoneEdit; }
    const ZoneEvents& zoneEvents() const { return positioning.zoneEvents(); }
    // Whether the setup changed since it was loaded or saved (zones so far).
    bool isSetupChanged() const { return settingsFlow->setupChanged(); }

    // What the command line asks for at start: a settings file loaded without
    // the reminder box, a port, connecting and starting the ranging. Returns a
    // line for each thing that failed.
    QStringList applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging);
    bool loadSettings(const QString& path, bool remind) { return settingsFlow->load(path, remind); }
    // For an editor whose changes the settings record does not show: closing asks to save them.
    void markSetupChanged() { settingsFlow->markSetupChanged(); }

    bool startRecording(const QString& path) { return recording->startRecording(path); }
    bool stopRecording() { return recording->stopRecording(); }   // false when the files did not fully reach the disk
    bool startReplay(const QString& path, double speed) { return recording->startReplay(path, speed); }
    void stopReplay() { recording->stopReplay(); }
    bool isReplaying() const { return recording->replay.isRunning(); }

    // 'D' lines stored since construction.
    quint64 rangingLinesStored() const { return rangingLinesReceived; }
    MqttPublisher& mqttPublisher() { return mqtt; }
    // Where Qt's German texts came from; empty when none loaded.
    QString qtTranslationFolder() const { return qtTranslationDir; }

    // The clocks of the chart pass while no replay runs (tests cross midnight with them).
    void setClocks(std::function<QTime()> timeOfDay, std::function<qint64()> epochMs);
    // File choosers in place of the native dialogs; a null one keeps the current.
    void setFileChoosers(FileChooser open, FileChooser save);

    // Frames painted so far, and a switch that paints every pass even when
    // nothing changed (for comparison and measurement).
    quint64 framesPainted() const { return frame.paintedFrames; }
    // What the last chart pass computed, per tag.
    const PositioningPass& lastPositioning() const { return lastPass; }
    void setPaintEveryPass(bool on) { frame.paintEveryPass = on; }
    // The frame as it would be painted from nothing but the present state:
    // a new grid layer, new pens and a new layout, nothing kept from earlier
    // passes. What lblChart shows after a pass must equal it.
    QImage frameFromScratch();

    bool updateGridGeometry();
    void drawGrid() { frame.drawGrid(scene()); }
    void drawScaleBar(QPainter* painter) { frame.drawScaleBar(painter, scene()); }
    void drawAnchors(QPainter* painter) { frame.drawAnchors(painter, scene()); }
    void drawTags(QPainter* painter) { frame.drawTags(painter, scene()); }
    void drawCalibrationMarks(QPainter* painter) { frame.drawCalibrationMarks(painter, scene()); }
    void loadBackgroundImage(const QString& path) { calibrationFlow->loadImage(path); }

    bool sendCommand(const QByteArray& command, bool loose) { return exchange.send(command, loose); }
    // Why the last exchange failed, for the user; empty after one that succeeded.
    QString exchangeError() const { return exchange.lastError(); }
    // Labels and enabled controls from the connection and session state.
    void updateControls() { connection->updateControls(); }
    void processLines(const QByteArray& chunk);
    void refreshComPorts() { connection->refreshPorts(); }
    void connectPort() { connection->connectChosen(); }
    void disconnectPort();
    void fillAnchorTable();
    void fillTagTable() { modulesPanel->showTags(modules.tags); }
    void updateCalibrationButtons() { calibrationFlow->updateButtons(); }

signals:
    void discoverPacket(QByteArray packet);
    void commandResult(bool ok);
    // Every stored ranging line, and every pass's result, for the flows that collect them.
    void rangingLineStored(const QByteArray& line, const QTime& received);
    void positioningPassed(const PositioningPass& pass);
    // Just before commandResult(false): why.
    void commandFailed(QString reason);

public slots:
    void dataReceived(QByteArray data);
    void executeCommand(QByteArray command, bool loose);
    void redrawChart();

private:
    // Connected to the panels' signals by hand (not by name: the controls live in the panels).
    void on_btnRefreshComPorts_clicked() { refreshComPorts(); }
    void on_btnConnect_clicked() { connectPort(); }
    void on_btnDisconnect_clicked() { disconnectPort(); }
    void on_btnStartRanging_clicked() { connection->toggleRanging(modules.anchors.size()); }
    void on_btnDiscovery_clicked();
    void on_btnSendCommand_clicked();
    void on_btnAbout_clicked();
    void on_cmbLastMeasures_currentIndexChanged(int index);
    void on_cmbFilter_currentIndexChanged(int index);
    void on_edtTagHeight_textChanged(const QString& text);

    void portLost() { connection->portLost(); }

    void on_btnResetGrid_clicked() { chartView->resetGrid(); }
    void on_btnFitView_clicked() { chartView->fitView(); }

    void gridMousePressed(QMouseEvent* event, QPointF point);
    void gridMouseMoved(QMouseEvent* event, QPointF point, bool pointmoving);
    void gridMouseReleased(QMouseEvent* event, QPointF point);

    void on_btnSelectBackground_clicked() { calibrationFlow->chooseImage(); }
    void on_btnClearBackground_clicked() { calibrationFlow->clearImage(); }
    void on_btnBGImageSetup_clicked() { calibrationFlow->begin(); }
    void on_btnBGImageOrigin_clicked() { calibrationFlow->pickOrigin(); }
    void on_btnBGImageDist_clicked() { calibrationFlow->pickPoint(); }
    void on_edtBGImageDistance_textChanged(const QString& text) { calibrationFlow->distanceEdited(text); }
    void on_btnAcceptBGImageSetup_clicked() { calibrationFlow->accept(); }
    void on_btnAcceptBGImageCancel_clicked() { calibrationFlow->cancel(); }

    void timedChartPass();
    void on_btnRecord_clicked() { recording->toggleRecording(); }
    void on_btnReplay_clicked() { recording->toggleReplay(); }

    void on_btnSaveSettings_clicked() { settingsFlow->save(); }
    void on_btnLoadSettings_clicked() { settingsFlow->chooseAndLoad(); }
    void on_btnMqtt_clicked();
    void on_btnCalibrateOffsets_clicked() { offsetFlow->open(); }
    void on_btnCheckAccuracy_clicked() { accuracyFlow->open(); }
    void on_btnLinkQuality_clicked();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Asks only when closing would lose something: a recording under way, a setup not saved.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPanels();
    void wireFlows();
    void portOpened();
    void portClosed(bool lost);
    void applyControls(const SessionState::Controls& c);
    void wireKnownPointFlows();
    void statusMessage(const QString& text, int timeoutMs) { statusBar()->showMessage(text, timeoutMs); }
    void setRangingControls(bool ranging) { connection->setRangingControls(ranging); }
    bool openPort(int baud) { return connection->open(baud); }
    void finishDisconnect() { connection->finish(); }
    void clearRangingHistory() { positioning.clear(); }
    void handleRangingLine(const QByteArray& line);
    void setGridEdits(int x, int y, int w, int h) { viewPanel->setGridRect(x, y, w, h); }
    void chartPass(int minFrameMs);
    void runPositioning();
    ChartFrame::Scene scene();
    void undoAnchorMove();
    void wireZones();
    // The zones or their occupancy changed: list, chart layer, broker follow.
    void showZones(bool configChanged);
    void takeZoneEvents(qint64 recMs);
    void exportZoneEvents();
    // The one place that marks the setup as changed since its last load or save.
    void noteAnchorsOutside() { chartView->noteAnchorsOutside(); }
    QTime timeOfDay() const { return recording->replay.isRunning() ? recording->replay.timeOfDay() : liveTimeOfDay(); }
    qint64 epochMs() const;

    quint64 rangingLinesReceived = 0;
    Smoothing smoothing = Smoothing::Average;
    std::optional<int> tagHeight;    // cm; unset: distances are taken as distances in the plane
    QHash<QString, quint64> belowShown;   // per tag, distances under the height difference last reported
    QString qtTranslationDir;
    QTranslator translator;

    PositioningPass lastPass;        // what the last chart pass computed, drawn by drawTags
    // After "Ranging stoppen": the tags where they were last, greyed, until
    // the ranging starts again or the link or a replay takes the chart.
    bool tagsStopped = false;
    QVector<TagResult> stoppedTags;
    ModuleSetup stoppedModules;      // the records as stopped tags are drawn
    // The greyed last frame of a replay stays until the user acts.
    bool frameHeld = false;
    void releaseFrame();
    void setTagsStopped(bool stopped);

    std::function<QTime()> liveTimeOfDay;
    std::function<qint64()> liveEpochMs;
    FileChoice fileChoice;

    MqttPublisher mqtt;              // positions, anchors and status to an MQTT broker

    CalibrationFlow* calibrationFlow = nullptr;
    ConnectionFlow* connection = nullptr;
    ChartViewFlow* chartView = nullptr;
    RecordingFlow* recording = nullptr;
    SettingsFlow* settingsFlow = nullptr;
    OffsetCalibrationFlow* offsetFlow = nullptr;
    AccuracyCheckFlow* accuracyFlow = nullptr;
    AnchorSurveyFlow* surveyFlow = nullptr;
    WindowLayout* windowLayout = nullptr;
    ReplayTimeline* replayTimeline = nullptr;   // under the chart while a replay runs
    LinkQualityDialog* linkQualityDialog = nullptr;   // made at the first use, then kept
    QAction* undoMoveAction = nullptr;
    quint64 packetLines = 0;
    ZoneEditFlow* zoneEdit = nullptr;
    QVector<ChartZone> chartZones;   // the shown zones with their occupancy, for the grid layer
    QVector<bool> undoOrder;         // per undoable edit, oldest first: true a zone edit, false an anchor's
};

#endif
