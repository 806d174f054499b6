#ifndef MAINWIN_H
#define MAINWIN_H

#include "calibration.h"
#include "chartdrawing.h"
#include "chartgeometry.h"
#include "chartpens.h"
#include "cominterface.h"
#include "modulesetup.h"
#include "mqttpublisher.h"
#include "positioningstep.h"
#include "rangingsample.h"
#include "recording.h"
#include "recordingflow.h"
#include "calibrationflow.h"
#include "connectionflow.h"
#include "chartviewflow.h"
#include "settingsflow.h"
#include "offsetcalibrationflow.h"
#include "accuracycheckflow.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QHash>
#include <QMap>
#include <QPair>
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
class WindowLayout;
class ReplayTimeline;
class QLabel;
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
    // Before rangingHistory, which refers into it.
    PositioningStep positioning;     // expiry, averaging, solving, filtering, speed, rate

public:
    explicit MainWin(QWidget* parent = nullptr);
    ~MainWin() override;

    // --- the members the other parts of the program share
    Ui::MainWin* ui = nullptr;
    ComInterface com;
    QByteArray rxBuffer;
    RangingHistory& rangingHistory;  // the positioning step's histories
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

    // --- chart state
    ChartGeometry chartGeo;          // gridX/Y/W/H, originX/Y, cmPerPixel, pixmap size, grid steps
    ChartPens pens;                  // anchorPen, masterRingPen, ... and labelFont
    bool gridDirty = true;
    QPixmap* chartPixmap = nullptr;
    QPixmap* gridPixmap = nullptr;
    QPixmap* blankPixmap = nullptr;
    QImage* bgImage = nullptr;
    QString bgImagePath;
    int bgImageOffsetX = 0;
    int bgImageOffsetY = 0;
    double bgImageFactor = 1.0;
    int imageGridX = -500, imageGridY = -500, imageGridW = 1000, imageGridH = 1000;
    Calibration* calibration = nullptr;
    int mouseMode = 0;
    QVector2D pressPos;
    int dragAnchor = -1;

    // What the command line asks for at start: a settings file loaded without
    // the reminder box, a port, connecting and starting the ranging. Returns a
    // line for each thing that failed.
    QStringList applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging);
    bool loadSettings(const QString& path, bool remind);

    bool startRecording(const QString& path);
    bool stopRecording();   // false when the files did not fully reach the disk
    bool startReplay(const QString& path, double speed);
    void stopReplay();
    bool isReplaying() const { return recording.replay.isRunning(); }

    // 'D' lines stored since construction.
    quint64 rangingLinesStored() const { return rangingLinesReceived; }
    MqttPublisher& mqttPublisher() { return mqtt; }
    // Where Qt's German texts came from; empty when none loaded.
    QString qtTranslationFolder() const { return qtTranslationDir; }

    // The clocks of the chart pass while no replay runs (tests cross midnight with them).
    void setClocks(std::function<QTime()> timeOfDay, std::function<qint64()> epochMs);
    // File choosers in place of the native dialogs; a null one keeps the current.
    using FileChooser = std::function<QString(const QString& caption, const QString& filter)>;
    void setFileChoosers(FileChooser open, FileChooser save);

    // Frames painted so far, and a switch that paints every pass even when
    // nothing changed (for comparison and measurement).
    quint64 framesPainted() const { return paintedFrames; }
    void setPaintEveryPass(bool on) { paintEveryPass = on; }
    // The frame as it would be painted from nothing but the present state:
    // a new grid layer, new pens and a new layout, nothing kept from earlier
    // passes. What lblChart shows after a pass must equal it.
    QImage frameFromScratch();

    bool updateGridGeometry();
    void drawGrid();
    void drawScaleBar(QPainter* painter);
    void layOutChart(const QVector<QRectF>& anchorArea);
    void drawAnchors(QPainter* painter);
    void drawTags(QPainter* painter);
    void drawCalibrationMarks(QPainter* painter);
    void loadBackgroundImage(const QString& path);

    bool sendCommand(const QByteArray& command, bool loose);
    // Why the last exchange failed, for the user; empty after one that succeeded.
    QString exchangeError() const { return lastExchangeError; }
    // Labels and enabled controls from the connection and session state.
    void updateControls();
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
    // Every stored ranging line, and every pass's result, for the flows that collect them.
    void rangingLineStored(const QByteArray& line, const QTime& received);
    void positioningPassed(const PositioningPass& pass);
    // Just before commandResult(false): why.
    void commandFailed(QString reason);

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
    void on_cmbFilter_currentIndexChanged(int index);
    void on_edtTagHeight_textChanged(const QString& text);

    void on_tblAnker_cellChanged(int row, int column);
    void tableAnkerCheckboxToggled(bool state);
    void tableAnkerComboBoxSelected(int index);
    void on_tblTags_cellChanged(int row, int column);
    void tableTagsCheckboxToggled(bool state);
    void tableTagsComboBoxSelected(int index);

    void portLost();

    void on_edtGridX_textChanged(const QString&);
    void on_edtGridY_textChanged(const QString&);
    void on_edtGridW_textChanged(const QString&);
    void on_edtGridH_textChanged(const QString&);
    void on_chkDrawGrid_toggled(bool);
    void on_chkDrawBGImage_toggled(bool);
    void on_btnResetGrid_clicked();
    void on_btnFitView_clicked();

    void gridMousePressed(QMouseEvent* event, QPointF point);
    void gridMouseMoved(QMouseEvent* event, QPointF point, bool pointmoving);
    void gridMouseReleased(QMouseEvent* event, QPointF point);

    void on_btnSelectBackground_clicked();
    void on_btnClearBackground_clicked();
    void on_btnBGImageSetup_clicked();
    void on_btnBGImageOrigin_clicked();
    void on_btnBGImageDist_clicked();
    void on_edtBGImageDistance_textChanged(const QString& text);
    void on_btnAcceptBGImageSetup_clicked();
    void on_btnAcceptBGImageCancel_clicked();

    void timedChartPass();
    void on_btnRecord_clicked();
    void on_btnReplay_clicked();

    void on_btnSaveSettings_clicked();
    void on_btnLoadSettings_clicked();
    void on_btnMqtt_clicked();
    void on_btnCalibrateOffsets_clicked() { offsetFlow->open(); }
    void on_btnCheckAccuracy_clicked() { accuracyFlow->open(); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class CalibrationFlow;
    friend class ChartViewFlow;
    friend class ConnectionFlow;
    friend class RecordingFlow;
    friend class SettingsFlow;

    void setRangingControls(bool ranging);
    bool openPort(int baud);
    void finishDisconnect();
    void clearRangingHistory();
    void handleRangingLine(const QByteArray& line);
    void setGridEdits(int x, int y, int w, int h);
    void chartPass(int minFrameMs);
    void runPositioning();
    void paintChart();
    void renderFrame(QPixmap& frame);
    void undoAnchorMove();
    void checkMasterHeard();
    QString lastFolder() const;
    void rememberFolder(const QString& path);
    void noteAnchorsOutside();
    QTime timeOfDay() const;
    qint64 epochMs() const;

    quint64 rangingLinesReceived = 0;
    Smoothing smoothing = Smoothing::Average;
    std::optional<int> tagHeight;    // cm; unset: distances are taken as distances in the plane
    QHash<QString, quint64> belowShown;   // per tag, distances under the height difference last reported
    QString qtTranslationDir;
    QTranslator translator;

    ScaleBarCorner scaleBarCorner = ScaleBarCorner::BottomLeft;
    QVector<QRectF> gridKeepClear;   // the anchors' dots and names the grid labels keep off
    QVector<QRectF> gridLabelRects;  // the grid labels of the layer, which the scale bar keeps off
    QVector<QRectF> circleSquares;   // this pass's distance circles by their bounding squares
    PositioningPass lastPass;        // what the last chart pass computed, drawn by drawTags
    QByteArray drawnSignature;       // of the frame lblChart shows; empty: paint at the next pass
    QElapsedTimer lastPaint;
    quint64 paintedFrames = 0;
    bool paintEveryPass = false;

    std::function<QTime()> liveTimeOfDay;
    std::function<qint64()> liveEpochMs;
    struct { FileChooser open, save; } fileChoice;

    MqttPublisher mqtt;              // positions, anchors and status to an MQTT broker
    QLabel* lblMqttStatus = nullptr; // its status in the status bar, while enabled

    CalibrationFlow calibrationFlow{*this};
    ConnectionFlow connection{*this};
    ChartViewFlow chartView{*this};
    RecordingFlow recording{*this};
    SettingsFlow settingsFlow{*this};
    OffsetCalibrationFlow* offsetFlow = nullptr;
    AccuracyCheckFlow* accuracyFlow = nullptr;
    WindowLayout* windowLayout = nullptr;
    ReplayTimeline* replayTimeline = nullptr;   // under the chart while a replay runs
    QAction* undoMoveAction = nullptr;
    QTimer* silenceTimer = nullptr;  // a master that never answers after a connect
    quint64 packetLines = 0;
    quint64 packetLinesAtConnect = 0;
    QString lastExchangeError;
};

#endif
