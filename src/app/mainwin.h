#ifndef MAINWIN_H
#define MAINWIN_H

#include "anchormoves.h"
#include "calibration.h"
#include "chartdrawing.h"
#include "chartgeometry.h"
#include "chartpens.h"
#include "cominterface.h"
#include "modulesetup.h"
#include "mqttpublisher.h"
#include "positionexport.h"
#include "positioningstep.h"
#include "rangingsample.h"
#include "recording.h"

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
public:
    explicit MainWin(QWidget* parent = nullptr);
    ~MainWin() override;

    // --- serial link and protocol (members public so tests and fuzzers can drive them)
    Ui::MainWin* ui = nullptr;
    ComInterface com;
    QByteArray rxBuffer;
    PositioningStep positioning;     // expiry, averaging, solving, filtering, speed, rate
    RangingHistory& rangingHistory;  // the step's histories
    quint64 rangingLinesReceived = 0;   // 'D' lines stored since construction (soak and tests count them)
    DiscoverWin* discoverWin = nullptr;
    CommandWin* commandWin = nullptr;
    QTimer* redrawTimer = nullptr;
    ModuleSetup modules;
    int averageCount = 10;
    Smoothing smoothing = Smoothing::Average;
    std::optional<int> tagHeight;   // cm; unset: distances are taken as distances in the plane
    QHash<QString, quint64> belowShown;   // per tag, distances under the height difference last reported
    QMutex exchangeMutex;
    bool awaitingReply = false;
    bool looseReply = false;
    bool replyOk = false;
    bool rangingActive = false;
    MasterInfo* masterInfo = nullptr;
    bool tablesInSync = false;
    QString qtTranslationDir;        // where Qt's German texts came from; empty when none loaded

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
    ScaleBarCorner scaleBarCorner = ScaleBarCorner::BottomLeft;
    QVector<QRectF> gridKeepClear;   // the anchors' dots and names the grid labels keep off
    QString outsideNote;             // the anchors and grid of the last "outside the view" note

    // Clocks of the chart pass, replaceable so tests can cross midnight and a
    // replay can follow recorded time.
    std::function<QTime()> timeOfDay;
    std::function<qint64()> epochMs;
    // File choosers, replaceable so tests need no native dialog.
    std::function<QString(const QString& caption, const QString& filter)> chooseOpenFile;
    std::function<QString(const QString& caption, const QString& filter)> chooseSaveFile;

    // --- recording and replay of serial sessions
    RecordingWriter recorder;
    PositionExport positionExport;
    MqttPublisher mqtt;              // positions, anchors and status to an MQTT broker
    QLabel* lblMqttStatus = nullptr; // its status in the status bar, while enabled
    QElapsedTimer recordClock;
    QTimer* flushTimer = nullptr;    // the position export, once a second
    RecordingReader replayReader;
    QTimer* replayTimer = nullptr;
    bool replaying = false;
    double replaySpeed = 1.0;        // 0: as fast as possible
    QElapsedTimer replayClock;
    quint32 replayNowMs = 0;         // recorded time reached by the replay
    quint32 replayLastPassMs = 0;
    qint64 replayBaseEpochMs = 0;
    QTime replayBaseTime;
    bool replayHasPending = false;
    quint32 replayPendingMs = 0;
    QByteArray replayPendingBatch;
    // Replay at "so schnell wie möglich": chart pass every this much recorded time.
    static constexpr quint32 ReplayPassIntervalMs = 10;
    // The clocks in use before the replay took them over.
    std::function<QTime()> liveTimeOfDay;
    std::function<qint64()> liveEpochMs;
    std::function<qint64()> liveMasterClock;

    // What the command line asks for at start: a settings file loaded without
    // the reminder box, a port, connecting and starting the ranging. Returns a
    // line for each thing that failed.
    QStringList applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging);
    bool loadSettings(const QString& path, bool remind);

    bool startRecording(const QString& path);
    bool stopRecording();   // false when the files did not fully reach the disk
    bool startReplay(const QString& path, double speed);
    void stopReplay();

    // Frames painted so far, and a switch that paints every pass even when
    // nothing changed (for comparison and measurement).
    quint64 framesPainted() const { return paintedFrames; }
    void setPaintEveryPass(bool on) { paintEveryPass = on; }

    bool updateGridGeometry();
    void drawGrid();
    void drawScaleBar(QPainter* painter);
    void drawAnchors(QPainter* painter);
    void drawTags(QPainter* painter);
    void drawCalibrationMarks(QPainter* painter);
    void loadBackgroundImage(const QString& path);

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
    void replayStep();
    void on_cmbReplaySpeed_currentIndexChanged(int index);

    void on_btnSaveSettings_clicked();
    void on_btnLoadSettings_clicked();
    void on_btnMqtt_clicked();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setConnectedControls(bool connected);
    void setRangingControls(bool ranging);
    bool openPort(int baud);
    void finishDisconnect();
    void clearRangingHistory();
    void finishReplay();
    void handleRangingLine(const QByteArray& line);
    void publishPosition(const Tag& tag, const TagResult& r);
    void updateMouseReadouts(const QPoint& world);
    void setGridEdits(int x, int y, int w, int h);
    void chartPass(int minFrameMs);
    void runPositioning();
    void paintChart();
    QByteArray frameSignature() const;
    PositioningPass lastPass;        // what the last chart pass computed, drawn by drawTags
    QByteArray drawnSignature;       // of the frame lblChart shows; empty: paint at the next pass
    QElapsedTimer lastPaint;
    QString replayExportPath;
    quint32 replayTotalMs = 0;
    quint64 replayTargetBaseMs = 0;  // recorded time at the last change of pace
    QElapsedTimer replayStatusClock;
    quint64 paintedFrames = 0;
    bool paintEveryPass = false;
    void undoAnchorMove();
    void checkMasterHeard();
    QString lastFolder() const;
    void rememberFolder(const QString& path);
    void noteAnchorsOutside();
    QTranslator translator;
    WindowLayout* windowLayout = nullptr;
    AnchorMoves anchorMoves;
    QPoint dragStart;                // where the dragged anchor stood before the drag
    QAction* undoMoveAction = nullptr;
    QTimer* silenceTimer = nullptr;  // a master that never answers after a connect
    quint64 packetLines = 0;
    quint64 packetLinesAtConnect = 0;
};

#endif
