#include "mainwin.h"
#include "ui_mainwin.h"

#include "aboutwin.h"
#include "anchorsurveyflow.h"
#include "linkqualitydialog.h"
#include "buildversion.h"
#include "replaytimeline.h"
#include "calibrationflow.h"
#include "chartviewflow.h"
#include "connectionflow.h"
#include "connectionpanel.h"
#include "disconnectedframe.h"
#include "stoppedtags.h"
#include "modulespanel.h"
#include "recordingflow.h"
#include "recordingpanel.h"
#include "settingsflow.h"
#include "sidepanel.h"
#include "toolspanel.h"
#include "viewpanel.h"
#include "commandwin.h"
#include "discoverwin.h"
#include "framing.h"
#include "masterinfo.h"
#include "mqttsetup.h"
#include "sitewindow.h"
#include "qflatcombobox.h"
#include "qlabelex.h"
#include "timeofday.h"
#include "translations.h"
#include "windowlayout.h"
#include "eventspanel.h"
#include "zoneeditflow.h"
#include "zoneevents.h"
#include "zonespanel.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QImage>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

MainWin::MainWin(QWidget* parent)
    : QMainWindow(parent, Qt::WindowFlags()), rangingHistory(positioning.history())
{
    ui = new Ui::MainWin;
    setClocks(nullptr, nullptr);
    fileChoice = FileChoice::native(this);
    ui->setupUi(this);

    QCoreApplication::setOrganizationName(QStringLiteral("Fenwright"));
    QCoreApplication::setApplicationName(QStringLiteral("DW1000 HRP Orvane V1.1 Demo"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildVersion::release()));

    QCoreApplication::installTranslator(&translator);
    // "translations" in the working directory first, then beside the binary, the
    // installed share folder and Qt's own; none found leaves Qt's dialogs English.
    qtTranslationDir = loadQtTranslation(translator);

    blankPixmap = new QPixmap(1, 1);
    blankPixmap->fill(Qt::white);

    // A drag meant to measure a distance may have moved an anchor: Ctrl+Z (or
    // the chart's context menu) puts it back.
    undoMoveAction = new QAction(tr("Anker- oder Zonenänderung rückgängig"), this);
    undoMoveAction->setShortcut(QKeySequence::Undo);
    undoMoveAction->setEnabled(false);
    connect(undoMoveAction, &QAction::triggered, this, &MainWin::undoAnchorMove);
    addAction(undoMoveAction);

    masterInfo = new MasterInfo(nullptr);
    buildPanels();
    wireFlows();
    wireKnownPointFlows();
    wireZones();

    refreshComPorts();

    redrawTimer = new QTimer(this);
    connect(redrawTimer, &QTimer::timeout, this, &MainWin::timedChartPass);
    connect(&com, &ComInterface::portLost, this, &MainWin::portLost, Qt::QueuedConnection);

    // The panels start disconnected, with "10" measurements averaged.
    on_cmbLastMeasures_currentIndexChanged(0);

    connect(ui->lblChart, &QLabelEx::mouseMoved, this, &MainWin::gridMouseMoved);
    connect(ui->lblChart, &QLabelEx::mousePressed, this, &MainWin::gridMousePressed);
    connect(ui->lblChart, &QLabelEx::mouseReleased, this, &MainWin::gridMouseReleased);
    connect(ui->lblChart, &QLabelEx::wheelTurned, chartView, &ChartViewFlow::zoom);
    // A click, a turn of the wheel or an edit of the view: the user acts on the live chart.
    connect(ui->lblChart, &QLabelEx::mousePressed, this, &MainWin::releaseFrame);
    connect(ui->lblChart, &QLabelEx::wheelTurned, this, &MainWin::releaseFrame);
    connect(viewPanel, &ViewPanel::viewEdited, this, &MainWin::releaseFrame);
    // The read-outs follow the pointer while it hovers, not only during a drag.
    ui->lblChart->setMouseTracking(true);
    ui->lblChart->addAction(undoMoveAction);
    ui->lblChart->setContextMenuPolicy(Qt::ActionsContextMenu);

    ui->labAbstandMaster->setText(QString());

    updateCalibrationButtons();

    ui->statusBar->addPermanentWidget(masterInfo, 0);
    ui->statusBar->addPermanentWidget(mqttStatusLabel(mqtt), 0);

    windowLayout = new WindowLayout(this, ui->splitterMain, ui->scrollConfig, ui->btnTogglePanel, {ui->readoutBar});
    ui->lblChart->addAction(windowLayout->presentationAction);
    // Shown to an audience, the labels are read from afar.
    connect(windowLayout, &WindowLayout::presentationChanged, this, [this](bool on) {
        pens.labelScale = on ? 1.5 : 1.0;
        gridDirty = true;
        if (!redrawTimer->isActive())
            redrawChart();
    });
    ui->chart->installEventFilter(this);

    // Under the chart, above the read-outs, while a replay runs.
    replayTimeline = new ReplayTimeline(ui->centralWidget);
    replayTimeline->hide();
    auto* column = static_cast<QBoxLayout*>(ui->centralWidget->layout());
    column->insertWidget(column->indexOf(ui->readoutBar), replayTimeline);
    column->insertWidget(column->indexOf(replayTimeline), eventsPanel);
    recording->attachTimeline(replayTimeline);
    // Nothing of the user's yet: closing right away asks nothing.
    settingsFlow->setupSettled();
}

void MainWin::buildPanels()
{
    auto* side = new SidePanel(ui->ConfigWidget);
    connectionPanel = side->connection;
    modulesPanel = side->modules;
    pens.tableTextPx = modulesPanel->tableTextPixelSize();   // the grid labels are no smaller
    viewPanel = side->view;
    toolsPanel = side->tools;
    recordingPanel = side->recording;
    zonesPanel = side->zones;

    ConnectionPanel* c = connectionPanel;
    connect(c, &ConnectionPanel::refreshRequested, this, &MainWin::on_btnRefreshComPorts_clicked);
    connect(c, &ConnectionPanel::connectRequested, this, &MainWin::on_btnConnect_clicked);
    connect(c, &ConnectionPanel::disconnectRequested, this, &MainWin::on_btnDisconnect_clicked);
    connect(c, &ConnectionPanel::rangingRequested, this, &MainWin::on_btnStartRanging_clicked);
    connect(c, &ConnectionPanel::sendCommandRequested, this, &MainWin::on_btnSendCommand_clicked);
    connect(c, &ConnectionPanel::aboutRequested, this, &MainWin::on_btnAbout_clicked);

    connect(modulesPanel, &ModulesPanel::discoveryRequested, this, &MainWin::on_btnDiscovery_clicked);
    connect(modulesPanel, &ModulesPanel::anchorsEdited, this, [this](const QList<Anchor>& anchors) {
        modules.anchors = anchors;
        mqtt.setAnchors(modules.anchors);
    });
    connect(modulesPanel, &ModulesPanel::tagsEdited, this, [this](const QList<Tag>& tags) { modules.tags = tags; });

    connect(viewPanel, &ViewPanel::viewEdited, this, [this] { gridDirty = true; });
    connect(viewPanel, &ViewPanel::fitRequested, this, &MainWin::on_btnFitView_clicked);
    connect(viewPanel, &ViewPanel::resetRequested, this, &MainWin::on_btnResetGrid_clicked);

    ToolsPanel* t = toolsPanel;
    connect(t, &ToolsPanel::averageChosen, this, &MainWin::on_cmbLastMeasures_currentIndexChanged);
    connect(t, &ToolsPanel::filterChosen, this, &MainWin::on_cmbFilter_currentIndexChanged);
    connect(t, &ToolsPanel::tagHeightEdited, this, &MainWin::on_edtTagHeight_textChanged);
    connect(t, &ToolsPanel::selectBackgroundRequested, this, &MainWin::on_btnSelectBackground_clicked);
    connect(t, &ToolsPanel::clearBackgroundRequested, this, &MainWin::on_btnClearBackground_clicked);
    connect(t, &ToolsPanel::calibrationRequested, this, &MainWin::on_btnBGImageSetup_clicked);
    connect(t, &ToolsPanel::originRequested, this, &MainWin::on_btnBGImageOrigin_clicked);
    connect(t, &ToolsPanel::pointRequested, this, &MainWin::on_btnBGImageDist_clicked);
    connect(t, &ToolsPanel::distanceEdited, this, &MainWin::on_edtBGImageDistance_textChanged);
    connect(t, &ToolsPanel::calibrationAccepted, this, &MainWin::on_btnAcceptBGImageSetup_clicked);
    connect(t, &ToolsPanel::calibrationCancelled, this, &MainWin::on_btnAcceptBGImageCancel_clicked);
    connect(t, &ToolsPanel::loadSettingsRequested, this, &MainWin::on_btnLoadSettings_clicked);
    connect(t, &ToolsPanel::saveSettingsRequested, this, &MainWin::on_btnSaveSettings_clicked);
    connect(t, &ToolsPanel::mqttRequested, this, &MainWin::on_btnMqtt_clicked);

    connect(recordingPanel, &RecordingPanel::recordRequested, this, &MainWin::on_btnRecord_clicked);
    connect(recordingPanel, &RecordingPanel::replayRequested, this, &MainWin::on_btnReplay_clicked);
    connect(t, &ToolsPanel::calibrateOffsetsRequested, this, &MainWin::on_btnCalibrateOffsets_clicked);
    connect(t, &ToolsPanel::checkAccuracyRequested, this, &MainWin::on_btnCheckAccuracy_clicked);
    connect(t, &ToolsPanel::surveyAnchorsRequested, this, [this] { surveyFlow->open(); });
    connect(t, &ToolsPanel::linkQualityRequested, this, &MainWin::on_btnLinkQuality_clicked);
    connect(t, &ToolsPanel::siteViewRequested, this, [this] {
        // A window of its own on the broker this kit publishes to; it lives on after this one closes.
        auto* site = new SiteWindow;
        site->setAttribute(Qt::WA_DeleteOnClose);
        site->show();
        site->start(mqtt.settings(), QString());
    });
}

void MainWin::wireFlows()
{
    calibrationFlow = new CalibrationFlow(this, background, toolsPanel, viewPanel, ui->lblChart, fileChoice);
    connect(calibrationFlow, &CalibrationFlow::backgroundChanged, this, [this] { gridDirty = true; });

    connection = new ConnectionFlow(this, com, connectionPanel, masterInfo, rangingActive,
                                    [this](const QByteArray& command, bool loose) { return sendCommand(command, loose); },
                                    packetLines);
    connect(connection, &ConnectionFlow::statusMessage, this, &MainWin::statusMessage);
    connect(connection, &ConnectionFlow::opened, this, &MainWin::portOpened);
    connect(connection, &ConnectionFlow::closed, this, &MainWin::portClosed);
    connect(connection, &ConnectionFlow::controlsChanged, this, &MainWin::applyControls);
    connection->exchangeError = [this] { return exchange.lastError(); };
    exchange.portPath = [this] { return connection->portPath(); };
    exchange.baud = [this] { return connectionPanel->baudText().toInt(); };
    connection->anchorCount = [this] { return int(modules.anchors.size()); };
    connection->sessionFacts = [this](SessionState& s) {
        s.recording = recording->session.isRecording();
        s.replaying = recording->replay.isRunning();
    };
    connect(connection, &ConnectionFlow::rangingChanged, this, [this](bool ranging) {
        // A new run of ranging draws its trails afresh.
        if (ranging)
            positioning.clearTrails();
        releaseFrame();
        setTagsStopped(!ranging && com.isOpen());
        // Ranging anchors stand where they stand: a drag on the chart should not move one.
        viewPanel->setAnchorsLocked(ranging);
    });

    const ChartViewFlow::Readouts readouts{ui->lblMouseX, ui->lblMouseY, ui->lblMouseD, ui->lblMouseXD, ui->lblMouseYD,
                                             ui->lblChart};
    chartView = new ChartViewFlow(this, modules, chartGeo, background, *calibrationFlow, viewPanel, ui->chart, readouts,
                                  undoMoveAction);
    connect(chartView, &ChartViewFlow::statusMessage, this, &MainWin::statusMessage);
    connect(chartView, &ChartViewFlow::statusCleared, statusBar(), &QStatusBar::clearMessage);
    connect(chartView, &ChartViewFlow::anchorsMoved, this, [this](bool redrawNow) {
        fillAnchorTable();
        if (!redrawNow)
            return;
        gridDirty = true;
        if (!redrawTimer->isActive())
            redrawChart();
    });

    recording = new RecordingFlow(this, recordingPanel, com, masterInfo, fileChoice);
    connect(recording, &RecordingFlow::statusMessage, this, &MainWin::statusMessage);
    connect(recording, &RecordingFlow::bytesReplayed, this, &MainWin::dataReceived);
    recording->anchorIds = [this] { return PositionExport::anchorIds(modules.anchors); };
    recording->rangingActive = [this] { return rangingActive; };
    recording->filterSetting = [this] {
        return smoothing == Smoothing::Kalman ? QStringLiteral("kalman") : QStringLiteral("avg%1").arg(averageCount);
    };
    connect(recording, &RecordingFlow::sessionChanged, this, &MainWin::updateControls);
    const auto restart = [this] {
        clearRangingHistory();
        showZones(false);   // the histories took the zones' occupants along
        rxBuffer.clear();
        frame.invalidate();
    };
    connect(recording, &RecordingFlow::replayStarted, this, [this, restart] {
        restart();
        releaseFrame();
        setTagsStopped(false);
    });
    connect(recording, &RecordingFlow::replaySought, this, restart);
    connect(recording, &RecordingFlow::replayStopped, this, [this, restart] {
        restart();
        ui->labAbstandMaster->setText(QString());
        // The last frame stays, greyed, until the user acts: it is no live position.
        if (frame.chartPixmap) {
            ui->lblChart->setPixmap(disconnectedFrame(*frame.chartPixmap, tr("Wiedergabe beendet")));
            frameHeld = true;
        }
        // Connected (idle): the live chart goes on.
        if (com.isOpen())
            redrawTimer->start(10);
    });
    connect(recording, &RecordingFlow::chartPassWanted, this, [this](int minFrameMs) {
        chartPass(minFrameMs);
        redrawTimer->stop();
    });
    connect(recording, &RecordingFlow::chartTimerWanted, this, [this](bool on) { on ? redrawTimer->start(10) : redrawTimer->stop(); });

    const SettingsFlow::Parts parts{modules, background, mqtt, *calibrationFlow, com, viewPanel, toolsPanel,
                                    positioning.zoneEvents()};
    settingsFlow = new SettingsFlow(this, parts, fileChoice);
    connect(settingsFlow, &SettingsFlow::statusMessage, this, &MainWin::statusMessage);
    connect(settingsFlow, &SettingsFlow::applied, this, [this] {
        fillAnchorTable();
        fillTagTable();
        gridDirty = true;
        zoneEdit->replaceAll(positioning.zoneEvents().zones());
    });
    connect(settingsFlow, &SettingsFlow::loaded, this, &MainWin::noteAnchorsOutside);
    connect(settingsFlow, &SettingsFlow::discoveryWanted, this, [this] {
        if (com.isOpen() && !rangingActive)
            on_btnDiscovery_clicked();
    });
    updateControls();
}

void MainWin::wireKnownPointFlows()
{
    // Offsets and accuracy from a tag at a known point: the flows collect the
    // ranging lines and passes, a click on the chart gives the point.
    KnownPointFlow::Context known{&modules, this, [this] { return tagHeight; }};
    known.chart = ui->chart;
    offsetFlow = new OffsetCalibrationFlow(known, this);
    accuracyFlow = new AccuracyCheckFlow(known, this);
    accuracyFlow->chooseFile = [this] { return fileChoice.save(tr("Bericht speichern"), tr("CSV (*.csv)")); };
    for (KnownPointFlow* flow : {static_cast<KnownPointFlow*>(offsetFlow), static_cast<KnownPointFlow*>(accuracyFlow)}) {
        connect(this, &MainWin::rangingLineStored, flow, &KnownPointFlow::rangingLine);
        connect(this, &MainWin::positioningPassed, flow, &KnownPointFlow::passComputed);
        connect(ui->lblChart, &QLabelEx::mousePressed, flow,
                [this, flow](QMouseEvent*, QPointF p) { flow->chartClicked(pixelToWorld(chartGeo, p)); });
    }
    connect(offsetFlow, &OffsetCalibrationFlow::offsetsApplied, this, [this](const QList<QPair<QString, int>>& before) {
        chartView->recordOffsets(before);
        fillAnchorTable();
        statusBar()->showMessage(tr("Offsets übernommen – Strg+Z macht es rückgängig"), 10000);
    });
    // The anchors' places from a walked tag; taken over like a drag, undone with Ctrl+Z.
    surveyFlow = new AnchorSurveyFlow({&modules, this, [this] { return tagHeight; }}, this);
    connect(this, &MainWin::rangingLineStored, surveyFlow, &AnchorSurveyFlow::rangingLine);
    connect(surveyFlow, &AnchorSurveyFlow::positionsApplied, this, [this](const QList<QPair<QString, QPoint>>& before) {
        chartView->recordPositions(before);
        fillAnchorTable();
        gridDirty = true;
        statusBar()->showMessage(tr("Ankerpositionen übernommen – Strg+Z macht es rückgängig"), 10000);
    });
    connect(surveyFlow, &AnchorSurveyFlow::offsetsApplied, this, [this](const QList<QPair<QString, int>>& before) {
        chartView->recordOffsets(before);
        fillAnchorTable();
        statusBar()->showMessage(tr("Bias in die Offsets geschrieben – Strg+Z macht es rückgängig"), 10000);
    });
}

MainWin::~MainWin()
{
    // Its event filters must not see the panel while the widgets are torn down.
    delete windowLayout;
    windowLayout = nullptr;
    disconnect(ui->lblChart, &QLabelEx::mouseMoved, this, &MainWin::gridMouseMoved);
    disconnect(ui->lblChart, &QLabelEx::mousePressed, this, &MainWin::gridMousePressed);
    disconnect(ui->lblChart, &QLabelEx::mouseReleased, this, &MainWin::gridMouseReleased);
    stopReplay();
    disconnectPort();
    stopRecording();
    redrawTimer->stop();
    delete redrawTimer;
    redrawTimer = nullptr;
    delete blankPixmap;
    clearRangingHistory();
    delete ui;
    ui = nullptr;
    QCoreApplication::removeTranslator(&translator);
}

void MainWin::setClocks(std::function<QTime()> timeOfDay, std::function<qint64()> epochMs)
{
    liveTimeOfDay = timeOfDay ? std::move(timeOfDay) : [] { return currentTimeOfDay(); };
    liveEpochMs = epochMs ? std::move(epochMs) : [] { return QDateTime::currentMSecsSinceEpoch(); };
}

void MainWin::setFileChoosers(FileChooser open, FileChooser save)
{
    if (open)
        fileChoice.open = std::move(open);
    if (save)
        fileChoice.save = std::move(save);
}

// A replay runs the chart pass on the recorded clock.
qint64 MainWin::epochMs() const { return recording->replay.isRunning() ? recording->replay.epochMs() : liveEpochMs(); }

// ---------------------------------------------------------------- connection

void MainWin::applyControls(const SessionState::Controls& c)
{
    connectionPanel->showControls(c.connect, c.disconnect, c.ranging, c.rangingText, c.sendCommand, c.connectionText);
    modulesPanel->setDiscoveryEnabled(c.discovery);
    recordingPanel->showControls(c.record, c.recordText, c.replay, c.replayText);
}

QStringList MainWin::applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging)
{
    // From the command line: no message boxes, one line per problem.
    QStringList problems;
    if (!settingsPath.isEmpty() && !loadSettings(settingsPath, false))
        problems << tr("Die Einstellungsdatei '%1' konnte nicht gelesen werden: %2.").arg(settingsPath, settingsFlow->loadError());
    return problems + connection->applyStartup(portPath, connectNow, startRanging, modules.anchors.size());
}

void MainWin::disconnectPort()
{
    redrawTimer->stop();
    connection->disconnect();
}

void MainWin::releaseFrame()
{
    if (!frameHeld)
        return;
    frameHeld = false;
    frame.invalidate();
}

void MainWin::setTagsStopped(bool stopped)
{
    tagsStopped = stopped;
    stoppedTags = stopped ? stoppedResults(lastPass.tags) : QVector<TagResult>();
    // Their distance to the master is no longer measured.
    ui->labAbstandMaster->setText(QString());
    frame.invalidate();
}

void MainWin::portOpened()
{
    releaseFrame();
    setTagsStopped(false);
    rxBuffer.clear();
    connect(&com, &ComInterface::dataReceived, this, &MainWin::dataReceived, Qt::UniqueConnection);
    redrawTimer->start(10);
    frame.invalidate();
}

void MainWin::portClosed(bool lost)
{
    // A recording ends with the link: say where it went, and why it ended.
    const QString note = recording->endRecording(lost);
    redrawTimer->stop();
    // The last frame stays visible, greyed out: its positions are no longer live.
    // A replay that runs meanwhile goes on drawing on its own cadence.
    const bool replaying = recording->replay.isRunning();
    if (replaying && !recording->replay.isFast())
        redrawTimer->start(10);
    else if (!replaying && frame.chartPixmap)
        ui->lblChart->setPixmap(disconnectedFrame(*frame.chartPixmap));
    frame.invalidate();
    frameHeld = false;
    setTagsStopped(false);
    positioning.clearTrails();
    ui->labAbstandMaster->setText(QString());
    disconnect(&com, &ComInterface::dataReceived, this, &MainWin::dataReceived);
    if (!replaying)
        rxBuffer.clear();
    const QString text = lost ? tr("Die Verbindung zum Master wurde unterbrochen!") + (note.isEmpty() ? QString() : QLatin1Char(' ') + note)
                              : note;
    if (!text.isEmpty())
        statusBar()->showMessage(text);
}

void MainWin::on_btnDiscovery_clicked()
{
    delete discoverWin;
    discoverWin = new DiscoverWin(this);
    discoverWin->setModules(&modules);
    connect(discoverWin, &DiscoverWin::executeCommand, this, &MainWin::executeCommand);
    connect(this, &MainWin::discoverPacket, discoverWin, &DiscoverWin::discoverPacket);
    connect(this, &MainWin::commandFailed, discoverWin, &DiscoverWin::commandFailed);
    connect(this, &MainWin::commandResult, discoverWin, &DiscoverWin::commandResult);
    discoverWin->exec();   // its connections go with it
    fillAnchorTable();
    fillTagTable();
    noteAnchorsOutside();
    delete discoverWin;
    discoverWin = nullptr;
}

void MainWin::on_btnSendCommand_clicked()
{
    delete commandWin;
    commandWin = new CommandWin(this);
    commandWin->setModules(&modules);
    connect(commandWin, &CommandWin::executeCommand, this, &MainWin::executeCommand);
    connect(this, &MainWin::commandFailed, commandWin, &CommandWin::commandFailed);
    connect(this, &MainWin::commandResult, commandWin, &CommandWin::commandResult);
    commandWin->exec();
    delete commandWin;
    commandWin = nullptr;
}

void MainWin::on_btnAbout_clicked() { AboutWin(this).exec(); }

void MainWin::on_cmbLastMeasures_currentIndexChanged(int)
{
    int value = 0;
    averageCount = parseInt(toolsPanel->averageText(), value) ? value : 0;
}

void MainWin::on_cmbFilter_currentIndexChanged(int index)
{
    smoothing = index == 1 ? Smoothing::Kalman : Smoothing::Average;
}

void MainWin::on_edtTagHeight_textChanged(const QString& text)
{
    tagHeight = tagHeightFromText(text);
    modulesPanel->setHeightColumnShown(bool(tagHeight));
}

// ---------------------------------------------------------------- exchange

void MainWin::executeCommand(QByteArray command, bool loose)
{
    const bool ok = !command.isEmpty() && sendCommand(command, loose);
    if (!ok && !command.isEmpty())
        emit commandFailed(exchange.lastError());
    emit commandResult(ok);
}

// ---------------------------------------------------------------- receiving

void MainWin::dataReceived(QByteArray data)
{
    recording->session.appendBytes(data);
    const QByteArray chunk = Framing::takeCompleteLines(rxBuffer, data);
    if (!chunk.isEmpty())
        processLines(chunk);
}

void MainWin::processLines(const QByteArray& chunk)
{
    Framing::forEachLine(chunk, [this](const QByteArray& line) {
        if (!Framing::isPacketLine(line))
            return;
        ++packetLines;
        connection->packetHeard();
        exchange.lineReceived(line);
        switch (line.at(2)) {
        case 'D':
            handleRangingLine(line);
            masterInfo->touch();
            break;
        case 'K': {
            // The master's own list is no change of the user's, unless there were some already.
            const bool settled = !settingsFlow->setupChanged();
            modules.applyModuleList(line, colorList);
            if (settled)
                settingsFlow->setupSettled();
            fillAnchorTable();
            fillTagTable();
            noteAnchorsOutside();
            masterInfo->touch();
            break;
        }
        case 'W':
            emit discoverPacket(line);
            masterInfo->touch();
            break;
        case 'R':
            masterInfo->touch();
            break;
        case 'X':
            masterInfo->masterPacket(line);
            break;
        default:
            break;
        }
    });
}

void MainWin::handleRangingLine(const QByteArray& line)
{
    const QTime now = timeOfDay();
    positioning.addRangingLine(line, now);
    ++rangingLinesReceived;
    emit rangingLineStored(line, now);
}

// ---------------------------------------------------------------- chart

void MainWin::redrawChart()
{
    chartPass(0);
}

void MainWin::timedChartPass()
{
    // Tags move slower than the eye needs 30 frames a second to follow, and
    // every frame costs a copy into the window. The positions still follow
    // every 10 ms.
    chartPass(33);
}

void MainWin::chartPass(int minFrameMs)
{
    redrawTimer->stop();
    // Whatever marked the grid dirty (an edit, a switch, the floor plan) needs
    // a new layer, even when an edit that is no number yet keeps the geometry;
    // that edit's next change marks it again.
    const bool changed = gridDirty;
    if (gridDirty) {
        updateGridGeometry();
        gridDirty = false;
    }
    frame.updateGrid(scene(), changed);
    runPositioning();
    if (frame.paintIfChanged(scene(), minFrameMs) && !frameHeld)
        ui->lblChart->setPixmap(*frame.chartPixmap);
    redrawTimer->start(10);
}

ChartFrame::Scene MainWin::scene()
{
    if (tagsStopped) {
        stoppedModules.anchors = modules.anchors;
        stoppedModules.tags = stoppedLook(modules.tags);
    }
    ChartFrame::Scene s{chartGeo, pens, tagsStopped ? stoppedModules : modules, tagsStopped ? stoppedTags : lastPass.tags,
                        background, viewPanel->drawsGrid(), viewPanel->drawsBackground(), viewPanel->showsCoverage(),
                        viewPanel->rangeLimit()};
    s.zones = &chartZones;
    return s;
}

QImage MainWin::frameFromScratch()
{
    ChartGeometry geo = chartGeo;
    int x = 0, y = 0, w = 0, h = 0;
    if (viewPanel->gridRect(x, y, w, h))
        computeChartGeometry(x, y, w, h, ui->chart->width(), ui->chart->height(), geo, true);
    ChartPens fresh;
    fresh.labelScale = pens.labelScale;
    fresh.tableTextPx = pens.tableTextPx;
    fresh.applyScale(geo.cmPerPixel);
    const ChartFrame::Scene now = scene();
    return ChartFrame::fromScratch({geo, fresh, now.modules, now.tags, background, viewPanel->drawsGrid(),
                                    viewPanel->drawsBackground(), viewPanel->showsCoverage(), viewPanel->rangeLimit()});
}

bool MainWin::updateGridGeometry()
{
    int w = 0, h = 0, x = 0, y = 0;
    if (!viewPanel->gridRect(x, y, w, h))
        return false;
    // A zero or negative size, or an empty container, keeps the last good geometry.
    if (!computeChartGeometry(x, y, w, h, ui->chart->width(), ui->chart->height(), chartGeo, true))
        return false;
    pens.applyScale(chartGeo.cmPerPixel);
    gridDirty = false;
    return true;
}

void MainWin::runPositioning()
{
    const PositioningOptions options{averageCount, smoothing, tagHeight, toolsPanel->trailSeconds()};
    lastPass = positioning.run(modules, options, timeOfDay(), epochMs());
    emit positioningPassed(lastPass);
    takeZoneEvents(recording->replay.isRunning() ? qint64(recording->replay.nowMs()) : recording->session.elapsedMs());
    if (lastPass.masterDistanceSet && !tagsStopped) {
        const QString text = tr("Abstand Tag \"%1\" -> Master: %2 cm").arg(lastPass.masterTagName).arg(lastPass.masterDistance);
        if (ui->labAbstandMaster->text() != text)
            ui->labAbstandMaster->setText(text);
    }
    const qint64 recMs = recording->replay.isRunning() ? qint64(recording->replay.nowMs()) : recording->session.elapsedMs();
    if (mqtt.isEnabled())
        mqtt.setTags(modules.tags);   // names and colours for a site view; sent only when changed
    for (const TagResult& r : qAsConst(lastPass.tags)) {
        if (r.belowHeight > belowShown.value(r.key)) {
            belowShown[r.key] = r.belowHeight;
            statusBar()->showMessage(tr("Tag %1: %2 Abstände kürzer als der Höhenunterschied zum Anker, in der Ebene als 0 "
                                        "genommen – Tag-Höhe und Z der Anker prüfen").arg(r.key).arg(r.belowHeight), 10000);
        }
        if (!r.rowDue)
            continue;
        const Tag& tag = modules.tags.at(r.tag);
        if (recording->session.isExporting())
            recording->session.positionExport().append(tag.lastUpdateMs, recMs, tag, r, modules.anchors);
        if (mqtt.isEnabled())
            mqtt.publishPosition(PositionMessage::of(tag, r));
    }
}

void MainWin::resizeEvent(QResizeEvent* event)
{
    releaseFrame();
    ui->lblChart->setPixmap(*blankPixmap);
    frame.invalidate();
    QMainWindow::resizeEvent(event);
    gridDirty = true;
}

void MainWin::closeEvent(QCloseEvent* event)
{
    const QString title = tr("Orvane beenden");
    const bool recordingRuns = recording->session.isRecording();
    if (recordingRuns
        && QMessageBox::question(this, title, tr("Eine Aufzeichnung läuft. Aufzeichnung beenden und Orvane schließen?"),
                                 QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    if (settingsFlow->setupChanged()) {
        QMessageBox box(QMessageBox::Question, title, tr("Änderungen speichern?"),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.setInformativeText(tr("Module, Positionen, Offsets, Grid oder Hintergrundbild wurden seit dem letzten "
                                  "Laden oder Speichern geändert."));
        box.setDefaultButton(QMessageBox::Save);
        const int answer = box.exec();
        if (answer != QMessageBox::Save && answer != QMessageBox::Discard) {
            event->ignore();
            return;
        }
        if (answer == QMessageBox::Save && !settingsFlow->save()) {
            event->ignore();
            return;
        }
    }
    // The recording ends complete, its index and export on the disk, before the window goes.
    if (recordingRuns && !stopRecording())
        QMessageBox::warning(this, tr("Aufzeichnung beenden"),
                             tr("Die Aufzeichnung konnte nicht vollständig gespeichert werden!"), QMessageBox::Ok);
    QMainWindow::closeEvent(event);
}

bool MainWin::eventFilter(QObject* watched, QEvent* event)
{
    // The splitter resizes the chart area without resizing the window.
    if (watched == ui->chart && event->type() == QEvent::Resize)
        gridDirty = true;
    return QMainWindow::eventFilter(watched, event);
}

void MainWin::on_btnMqtt_clicked() { runMqttSetup(this, mqtt); }

void MainWin::on_btnLinkQuality_clicked()
{
    if (!linkQualityDialog) {
        linkQualityDialog = new LinkQualityDialog(&modules, this);
        // The figures of whatever feeds the positioning: the port, or a replay at its own clock.
        linkQualityDialog->figures = [this] { return positioning.linkQuality().figures(timeOfDay()); };
    }
    linkQualityDialog->show();
    linkQualityDialog->raise();
    linkQualityDialog->activateWindow();
}

// ---------------------------------------------------------------- tables

void MainWin::fillAnchorTable()
{
    modulesPanel->showAnchors(modules.anchors);
    mqtt.setAnchors(modules.anchors);
}


// ---------------------------------------------------------------- zones

void MainWin::wireZones()
{
    eventsPanel = new EventsPanel(ui->centralWidget);
    zoneEdit = new ZoneEditFlow(this, positioning.zoneEvents(), chartGeo);
    connect(zoneEdit, &ZoneEditFlow::statusMessage, this, [this](const QString& text, int timeoutMs) {
        text.isEmpty() ? statusBar()->clearMessage() : statusBar()->showMessage(text, timeoutMs);
    });
    connect(zoneEdit, &ZoneEditFlow::zonesChanged, this, [this] { showZones(true); });
    connect(zoneEdit, &ZoneEditFlow::edited, this, [this] {
        undoOrder.append(true);
        undoMoveAction->setEnabled(true);
    });
    connect(chartView, &ChartViewFlow::moveRecorded, this, [this] { undoOrder.append(false); });
    connect(zoneEdit, &ZoneEditFlow::sketchChanged, this, [this] {
        QPolygonF pixels;
        for (const QPointF& corner : zoneEdit->sketch())
            pixels << worldToPixel(chartGeo, corner);
        ui->lblChart->setSketch(pixels, zoneEdit->sketchColor());
    });
    connect(zoneEdit, &ZoneEditFlow::drawingChanged, zonesPanel, &ZonesPanel::setDrawing);
    connect(zonesPanel, &ZonesPanel::drawRequested, this, [this](bool on) {
        if (on)
            zoneEdit->startDrawing(zonesPanel->newZoneName(positioning.zoneEvents().zones()));
        else
            zoneEdit->cancelDrawing();
    });
    connect(zonesPanel, &ZonesPanel::zoneDeleted, zoneEdit, &ZoneEditFlow::deleteZone);
    connect(zonesPanel, &ZonesPanel::zoneShownChanged, zoneEdit, &ZoneEditFlow::setShown);
    connect(zonesPanel, &ZonesPanel::eventsShownChanged, this, [this] { showZones(false); });
    connect(eventsPanel, &EventsPanel::exportRequested, this, &MainWin::exportZoneEvents);
    // Keys while a zone is drawn: Enter closes it, Escape cancels.
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Escape)}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setEnabled(false);
        connect(zoneEdit, &ZoneEditFlow::drawingChanged, shortcut, &QShortcut::setEnabled);
        connect(shortcut, &QShortcut::activated, zoneEdit, key == Qt::Key_Escape ? &ZoneEditFlow::cancelDrawing
                                                                                 : &ZoneEditFlow::finishDrawing);
    }
    connect(ui->lblChart, &QLabelEx::mouseDoubleClicked, this,
            [this](QMouseEvent*, QPointF point) { zoneEdit->doubleClicked(point); });
    showZones(true);
}

void MainWin::gridMousePressed(QMouseEvent* event, QPointF point)
{
    if (!zoneEdit->pressed(event, point))
        chartView->pressed(event, point);
}

void MainWin::gridMouseMoved(QMouseEvent* event, QPointF point, bool)
{
    if (!zoneEdit->moved(event, point))
        chartView->moved(event, point);
}

void MainWin::gridMouseReleased(QMouseEvent* event, QPointF point)
{
    if (!zoneEdit->released(event, point))
        chartView->released(event, point);
}

void MainWin::undoAnchorMove()
{
    // Zone edits and anchor moves share Ctrl+Z, the newest first.
    const bool zone = !undoOrder.isEmpty() && undoOrder.last();
    if (!undoOrder.isEmpty())
        undoOrder.removeLast();
    if (zone)
        zoneEdit->undo();
    else
        chartView->undoMove();
    undoMoveAction->setEnabled(undoMoveAction->isEnabled() || zoneEdit->canUndo());
}

void MainWin::showZones(bool configChanged)
{
    const ZoneEvents& engine = positioning.zoneEvents();
    QVector<int> occupancy;
    QVector<ChartZone> shown;
    for (int i = 0; i < engine.zones().size(); ++i) {
        const Zone& z = engine.zones().at(i);
        const QStringList inside = engine.occupants(i);
        occupancy << int(inside.size());
        if (z.shown)
            shown.append({z.corners, z.color, QStringLiteral("%1 (%2)").arg(z.name).arg(inside.size())});
        if (mqtt.isEnabled())
            mqtt.publishOccupancy(z.name, inside);
    }
    if (configChanged)
        mqtt.setZones(engine.zones());
    zonesPanel->showZones(engine.zones(), occupancy);
    // A setup without zones has no events: the list gives the chart its room.
    eventsPanel->setVisible(zonesPanel->eventsShown() && !engine.zones().isEmpty());
    if (shown != chartZones) {
        chartZones = shown;
        // Without passes running (disconnected) the chart shows the change now.
        if (!redrawTimer || !redrawTimer->isActive())
            redrawChart();
    }
}

void MainWin::takeZoneEvents(qint64 recMs)
{
    ZoneEvents& engine = positioning.zoneEvents();
    if (!engine.hasEvents())
        return;
    const QVector<ZoneEvent> events = engine.takeEvents();
    eventsPanel->addEvents(events, recMs - epochMs());
    if (mqtt.isEnabled())
        for (const ZoneEvent& e : events)
            mqtt.publishZoneEvent(e);
    showZones(false);
}

void MainWin::exportZoneEvents()
{
    const QString path = fileChoice.save(tr("Ereignisse exportieren"), tr("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (eventsPanel->log().exportCsv(path))
        statusBar()->showMessage(tr("Ereignisse exportiert: %1").arg(path), 8000);
    else
        QMessageBox::warning(this, tr("Ereignisse exportieren"), tr("Die Datei %1 konnte nicht geschrieben werden.").arg(path));
}
