#include "mainwin.h"
#include "ui_mainwin.h"

#include "aboutwin.h"
#include "buildversion.h"
#include "chartdrawing.h"
#include "commandwin.h"
#include "discoverwin.h"
#include "exchangefailure.h"
#include "framing.h"
#include "masterinfo.h"
#include "mqttdialog.h"
#include "mqttpassword.h"
#include "numberedit.h"
#include "qflatcombobox.h"
#include "qlabelex.h"
#include "replaytimeline.h"
#include "moduletables.h"
#include "framesignature.h"
#include "timeofday.h"
#include "translations.h"
#include "utf8settings.h"
#include "windowlayout.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QIntValidator>
#include <QLabel>
#include <QMouseEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

bool parseInt(const QString& text, int& value)
{
    if (text.isEmpty()) {
        value = 0;
        return false;
    }
    bool ok = false;
    value = text.trimmed().toInt(&ok, 10);
    return ok;
}

MainWin::MainWin(QWidget* parent)
    : QMainWindow(parent, Qt::WindowFlags()), rangingHistory(positioning.history())
{
    ui = new Ui::MainWin;
    tablesInSync = false;
    setClocks(nullptr, nullptr);
    // The dialogs open where the user last chose a file, not in the working folder.
    fileChoice.open = [this](const QString& caption, const QString& filter) {
        const QString path = QFileDialog::getOpenFileName(this, caption, lastFolder(), filter);
        rememberFolder(path);
        return path;
    };
    fileChoice.save = [this](const QString& caption, const QString& filter) {
        const QString path = QFileDialog::getSaveFileName(this, caption, lastFolder(), filter);
        rememberFolder(path);
        return path;
    };
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

    refreshComPorts();

    redrawTimer = new QTimer(this);
    connect(redrawTimer, &QTimer::timeout, this, &MainWin::timedChartPass);
    connect(&com, &ComInterface::portLost, this, &MainWin::portLost, Qt::QueuedConnection);

    silenceTimer = new QTimer(this);
    silenceTimer->setSingleShot(true);
    connect(silenceTimer, &QTimer::timeout, this, &MainWin::checkMasterHeard);

    // A drag meant to measure a distance may have moved an anchor: Ctrl+Z (or
    // the chart's context menu) puts it back.
    undoMoveAction = new QAction(tr("Ankerverschiebung rückgängig"), this);
    undoMoveAction->setShortcut(QKeySequence::Undo);
    undoMoveAction->setEnabled(false);
    connect(undoMoveAction, &QAction::triggered, this, &MainWin::undoAnchorMove);
    addAction(undoMoveAction);

    updateControls();

    ui->edtTagHeight->setValidator(new QIntValidator(-100000, 100000, ui->edtTagHeight));
    // The grid takes whole centimetres only; a size must be positive.
    guardNumberEdit(ui->edtGridW, 1, 10000000);
    guardNumberEdit(ui->edtGridH, 1, 10000000);
    guardNumberEdit(ui->edtGridX, -10000000, 10000000);
    guardNumberEdit(ui->edtGridY, -10000000, 10000000);
    ModuleTables::setUpColumns(ui->tblAnker, ui->tblTags);

    ui->cmbLastMeasures->setCurrentText(QStringLiteral("10"));
    on_cmbLastMeasures_currentIndexChanged(ui->cmbLastMeasures->currentIndex());

    connect(ui->lblChart, &QLabelEx::mouseMoved, this, &MainWin::gridMouseMoved);
    connect(ui->lblChart, &QLabelEx::mousePressed, this, &MainWin::gridMousePressed);
    connect(ui->lblChart, &QLabelEx::mouseReleased, this, &MainWin::gridMouseReleased);
    ui->lblChart->addAction(undoMoveAction);
    ui->lblChart->setContextMenuPolicy(Qt::ActionsContextMenu);

    // Offsets and accuracy from a tag at a known point: the flows collect the
    // ranging lines and passes, a click on the chart gives the point.
    const KnownPointFlow::Context known{&modules, this, [this] { return tagHeight; }};
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
        chartView.recordOffsets(before);
        fillAnchorTable();
        statusBar()->showMessage(tr("Offsets übernommen – Strg+Z macht es rückgängig"), 10000);
    });

    for (QLabel* l : {ui->lblMouseX, ui->lblMouseY, ui->lblMouseD, ui->lblMouseXD, ui->lblMouseYD}) {
        l->setText(QStringLiteral("-"));
        // Room for the usual read-outs, so the window need not grow as they change.
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(tr("%1 cm").arg(-99999)));
    }
    ui->labAbstandMaster->setText(QString());
    ui->lblBaud->hide();
    ui->edtBaud->hide();

    updateCalibrationButtons();

    masterInfo = new MasterInfo(nullptr);
    ui->statusBar->addPermanentWidget(masterInfo, 0);
    lblMqttStatus = new QLabel(mqtt.statusText());
    lblMqttStatus->setObjectName(QStringLiteral("lblMqttStatus"));
    lblMqttStatus->hide();
    ui->statusBar->addPermanentWidget(lblMqttStatus, 0);
    connect(&mqtt, &MqttPublisher::statusChanged, this, [this](const QString& text) {
        lblMqttStatus->setText(text);
        lblMqttStatus->setVisible(mqtt.isEnabled());
    });

    replayTimeline = new ReplayTimeline(ui->chartArea);
    replayTimeline->hide();
    ui->chartArea->layout()->addWidget(replayTimeline);
    recording.attachTimeline(replayTimeline);

    // Whether a port that comes back is connected without asking; kept for the next start.
    ui->chkAutoReconnect->setChecked(QSettings().value(QStringLiteral("Verbindung/AutomatischNeuVerbinden")).toBool());
    connect(ui->chkAutoReconnect, &QCheckBox::toggled, this,
            [](bool on) { QSettings().setValue(QStringLiteral("Verbindung/AutomatischNeuVerbinden"), on); });

    windowLayout = new WindowLayout(this, ui->splitterMain, ui->scrollConfig);
    ui->chart->installEventFilter(this);

    tablesInSync = true;
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
    delete bgImage;
    delete gridPixmap;
    delete chartPixmap;
    delete blankPixmap;
    delete calibration;
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
QTime MainWin::timeOfDay() const { return recording.replay.isRunning() ? recording.replay.timeOfDay() : liveTimeOfDay(); }
qint64 MainWin::epochMs() const { return recording.replay.isRunning() ? recording.replay.epochMs() : liveEpochMs(); }

// ---------------------------------------------------------------- connection

void MainWin::refreshComPorts() { connection.refreshPorts(); }
void MainWin::updateControls() { connection.updateControls(); }
void MainWin::connectPort() { connection.connectChosen(); }
bool MainWin::openPort(int baud) { return connection.open(baud); }
QStringList MainWin::applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging)
{
    return connection.applyStartup(settingsPath, portPath, connectNow, startRanging);
}
void MainWin::disconnectPort() { connection.disconnect(); }
void MainWin::finishDisconnect() { connection.finish(); }
void MainWin::checkMasterHeard() { connection.checkMasterHeard(); }
void MainWin::portLost() { connection.portLost(); }
void MainWin::on_btnStartRanging_clicked() { connection.toggleRanging(); }
void MainWin::setRangingControls(bool ranging) { connection.setRangingControls(ranging); }
void MainWin::on_btnRefreshComPorts_clicked() { refreshComPorts(); }
void MainWin::on_btnConnect_clicked() { connectPort(); }
void MainWin::on_btnDisconnect_clicked() { disconnectPort(); }

void MainWin::on_btnDiscovery_clicked()
{
    delete discoverWin;
    discoverWin = new DiscoverWin(this);
    discoverWin->setModules(&modules);
    connect(discoverWin, &DiscoverWin::executeCommand, this, &MainWin::executeCommand);
    connect(this, &MainWin::discoverPacket, discoverWin, &DiscoverWin::discoverPacket);
    connect(this, &MainWin::commandFailed, discoverWin, &DiscoverWin::commandFailed);
    connect(this, &MainWin::commandResult, discoverWin, &DiscoverWin::commandResult);
    discoverWin->exec();
    disconnect(this, &MainWin::commandResult, discoverWin, &DiscoverWin::commandResult);
    disconnect(this, &MainWin::commandFailed, discoverWin, &DiscoverWin::commandFailed);
    disconnect(this, &MainWin::discoverPacket, discoverWin, &DiscoverWin::discoverPacket);
    disconnect(discoverWin, &DiscoverWin::executeCommand, this, &MainWin::executeCommand);
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
    disconnect(this, &MainWin::commandResult, commandWin, &CommandWin::commandResult);
    disconnect(this, &MainWin::commandFailed, commandWin, &CommandWin::commandFailed);
    disconnect(commandWin, &CommandWin::executeCommand, this, &MainWin::executeCommand);
    delete commandWin;
    commandWin = nullptr;
}

void MainWin::on_btnAbout_clicked()
{
    auto* about = new AboutWin(this);
    about->exec();
    delete about;
}

void MainWin::on_cmbLastMeasures_currentIndexChanged(int)
{
    int value = 0;
    averageCount = parseInt(ui->cmbLastMeasures->currentText(), value) ? value : 0;
}

void MainWin::on_cmbFilter_currentIndexChanged(int index)
{
    smoothing = index == 1 ? Smoothing::Kalman : Smoothing::Average;
}

void MainWin::on_edtTagHeight_textChanged(const QString& text)
{
    tagHeight = tagHeightFromText(text);
    ui->tblAnker->setColumnHidden(5, !tagHeight);
}

// ---------------------------------------------------------------- exchange

bool MainWin::sendCommand(const QByteArray& command, bool loose)
{
    // Reached again from the event loop this exchange spins (a queued handler,
    // a timer), a blocking lock would deadlock the GUI thread: refuse instead.
    const auto fail = [&](ExchangeFailure why) {
        lastExchangeError = exchangeFailureText(why, command, connection.portPath(), ui->edtBaud->text().toInt(), com.lastError());
        return false;
    };
    if (!exchangeMutex.tryLock())
        return fail(ExchangeFailure::Busy);
    if (!com.isOpen()) {
        exchangeMutex.unlock();
        return fail(ExchangeFailure::NotConnected);
    }
    lastExchangeError.clear();
    replyOk = false;
    awaitingReply = true;
    looseReply = loose;
    // Disabling takes the keyboard focus away (also from an open dialog, which is a
    // child of this window); it goes back where the user left it afterwards.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    setEnabled(false);
    bool result = false;
    ExchangeFailure failure = ExchangeFailure::NotSent;
    if (com.write(command)) {
        while (awaitingReply && com.commandPending) {
            QThread::msleep(10);
            QCoreApplication::processEvents();
        }
        result = replyOk;
        failure = ExchangeFailure::Unanswered;
    }
    awaitingReply = false;
    setEnabled(true);
    if (focus && !QApplication::focusWidget() && focus->isVisible() && focus->isEnabled())
        focus->setFocus();
    exchangeMutex.unlock();
    if (!result)
        fail(failure);
    return result;
}

void MainWin::executeCommand(QByteArray command, bool loose)
{
    const bool ok = !command.isEmpty() && sendCommand(command, loose);
    if (!ok && !command.isEmpty())
        emit commandFailed(lastExchangeError);
    emit commandResult(ok);
}

// ---------------------------------------------------------------- receiving

void MainWin::dataReceived(QByteArray data)
{
    recording.session.appendBytes(data);
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
        connection.packetHeard();
        if (awaitingReply) {
            if (com.checkReply(line, looseReply)) {
                com.commandPending = false;
                awaitingReply = false;
                replyOk = true;
            }
            if (!com.commandPending)
                awaitingReply = false;
        }
        switch (line.at(2)) {
        case 'D':
            handleRangingLine(line);
            masterInfo->touch();
            break;
        case 'K':
            modules.applyModuleList(line);
            fillAnchorTable();
            fillTagTable();
            noteAnchorsOutside();
            masterInfo->touch();
            break;
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
    // Grid labels give way to the anchors' dots and names, so the layer follows them.
    const QVector<QRectF> anchorArea = anchorItemRects(chartGeo, pens, modules.anchors);
    if (!gridPixmap || gridPixmap->width() != chartGeo.pixmapW || gridPixmap->height() != chartGeo.pixmapH || changed
        || anchorArea != gridKeepClear) {
        gridKeepClear = anchorArea;
        drawGrid();
    }
    runPositioning();
    layOutChart(anchorArea);
    // Nothing visible changed since the last frame: the label keeps showing it.
    const QByteArray signature = frameSignature(chartGeo, gridPixmap ? gridPixmap->cacheKey() : 0, modules,
                                                lastPass.tags, calibration, int(scaleBarCorner));
    if (paintEveryPass
        || (signature != drawnSignature && (minFrameMs <= 0 || !lastPaint.isValid() || lastPaint.elapsed() >= minFrameMs))) {
        paintChart();
        ++paintedFrames;
        drawnSignature = signature;
        lastPaint.start();
    }
    redrawTimer->start(10);
}

// Places this pass's dots and labels without drawing them, and the scale bar
// clear of them, of the grid labels and of the distance circles: the bar's
// corner then follows from this pass alone, before anything is painted.
void MainWin::layOutChart(const QVector<QRectF>& anchorArea)
{
    pens.placed = anchorArea;
    circleSquares.clear();
    drawTags(nullptr);
    QVector<QRectF> obstacles = pens.placed;
    if (ui->chkDrawGrid->isChecked())
        obstacles += gridLabelRects;
    scaleBarCorner = chooseScaleBarCorner(chartGeo, QFontMetrics(QFont(), gridPixmap), obstacles, circleSquares);
}

void MainWin::paintChart()
{
    if (!chartPixmap)
        chartPixmap = new QPixmap;
    renderFrame(*chartPixmap);
    ui->lblChart->setPixmap(*chartPixmap);
}

void MainWin::renderFrame(QPixmap& frame)
{
    frame = gridPixmap->copy();
    if (!frame.isNull()) {
        QPainter painter(&frame);
        painter.setWindow(0, 0, chartGeo.pixmapW, chartGeo.pixmapH);
        drawScaleBar(&painter);
        painter.setWindow(0, 0, chartGeo.gridW, chartGeo.gridH);
        drawAnchors(&painter);
        drawTags(&painter);
        if (calibration)
            drawCalibrationMarks(&painter);
    }
}

QImage MainWin::frameFromScratch()
{
    const ChartGeometry keptGeo = chartGeo;
    const ChartPens keptPens = pens;
    const bool keptDirty = gridDirty;
    QPixmap* keptGrid = gridPixmap;
    const QVector<QRectF> keptClear = gridKeepClear, keptLabels = gridLabelRects, keptCircles = circleSquares;
    const ScaleBarCorner keptCorner = scaleBarCorner;

    pens = ChartPens();
    pens.applyScale(chartGeo.cmPerPixel);
    gridDirty = true;
    updateGridGeometry();
    gridPixmap = nullptr;
    gridKeepClear = anchorItemRects(chartGeo, pens, modules.anchors);
    drawGrid();
    layOutChart(gridKeepClear);
    QPixmap frame;
    renderFrame(frame);

    delete gridPixmap;
    gridPixmap = keptGrid;
    chartGeo = keptGeo;
    pens = keptPens;
    gridDirty = keptDirty;
    gridKeepClear = keptClear;
    gridLabelRects = keptLabels;
    circleSquares = keptCircles;
    scaleBarCorner = keptCorner;
    return frame.toImage();
}

bool MainWin::updateGridGeometry()
{
    int w = 0, h = 0, x = 0, y = 0;
    if (!parseInt(ui->edtGridW->text(), w) || !parseInt(ui->edtGridH->text(), h)
        || !parseInt(ui->edtGridX->text(), x) || !parseInt(ui->edtGridY->text(), y))
        return false;
    // A zero or negative size, or an empty container, keeps the last good geometry.
    if (!computeChartGeometry(x, y, w, h, ui->chart->width(), ui->chart->height(), chartGeo))
        return false;
    pens.applyScale(chartGeo.cmPerPixel);
    gridDirty = false;
    return true;
}

void MainWin::drawGrid()
{
    const QImage* background = (ui->chkDrawBGImage->isChecked() && bgImage) ? bgImage : nullptr;
    const QPixmap layer = renderGridLayer(chartGeo, ui->chkDrawGrid->isChecked(), background,
                                          bgImageOffsetX, bgImageOffsetY, bgImageFactor, gridKeepClear, &gridLabelRects);
    // Kept on white, so a frame starts as a plain copy of it instead of a
    // white fill and a blend of a transparent layer at every paint.
    QPixmap opaque(layer.size());
    opaque.fill(Qt::white);
    if (!opaque.isNull()) {
        QPainter p(&opaque);
        p.drawPixmap(0, 0, layer);
    }
    delete gridPixmap;
    gridPixmap = new QPixmap(opaque);
}

void MainWin::drawScaleBar(QPainter* painter)
{
    ::drawScaleBar(painter, chartGeo, scaleBarCorner);   // in the corner layOutChart chose
}

void MainWin::drawAnchors(QPainter* painter)
{
    drawAnchorItems(painter, chartGeo, pens, modules.anchors);
}

void MainWin::runPositioning()
{
    const PositioningOptions options{averageCount, smoothing, tagHeight};
    lastPass = positioning.run(modules, options, timeOfDay(), epochMs());
    emit positioningPassed(lastPass);
    if (lastPass.masterDistanceSet) {
        const QString text = tr("Abstand Tag \"%1\" -> Master: %2 cm").arg(lastPass.masterTagName).arg(lastPass.masterDistance);
        if (ui->labAbstandMaster->text() != text)
            ui->labAbstandMaster->setText(text);
    }
    const qint64 recMs = recording.replay.isRunning() ? qint64(recording.replay.nowMs()) : recording.session.elapsedMs();
    for (const TagResult& r : qAsConst(lastPass.tags)) {
        if (r.belowHeight > belowShown.value(r.key)) {
            belowShown[r.key] = r.belowHeight;
            statusBar()->showMessage(tr("Tag %1: %2 Abstände kürzer als der Höhenunterschied zum Anker, in der Ebene als 0 "
                                        "genommen – Tag-Höhe und Z der Anker prüfen").arg(r.key).arg(r.belowHeight), 10000);
        }
        if (!r.rowDue)
            continue;
        const Tag& tag = modules.tags.at(r.tag);
        if (recording.session.isExporting())
            recording.session.positionExport().append(tag.lastUpdateMs, recMs, tag, r, modules.anchors);
        if (mqtt.isEnabled())
            mqtt.publishPosition(PositionMessage::of(tag, r));
    }
}

void MainWin::drawTags(QPainter* painter)
{
    const QList<Anchor>& anchors = modules.anchors;
    for (const TagResult& r : qAsConst(lastPass.tags)) {
        if (r.tag < 0 || r.tag >= modules.tags.size())
            continue;
        const Tag& tag = modules.tags.at(r.tag);
        for (int a = 0; a < anchors.size(); ++a) {
            const Anchor& anchor = anchors.at(a);
            const double cx = double(chartGeo.originX) + anchor.x, cy = double(chartGeo.originY) - anchor.y;
            for (const bool raw : {true, false}) {
                if (!(raw ? tag.showDistRaw && r.rawDist.contains(a) : tag.showDistAvg && r.avgDist.contains(a)))
                    continue;
                const int radius = (raw ? r.rawDist : r.avgDist).value(a);
                if (painter)
                    drawDistanceCircle(painter, chartGeo, raw ? pens.rawCirclePen : pens.avgCirclePen, anchor, radius, tag.color);
                else
                    circleSquares.append(QRectF(cx - radius, cy - radius, 2.0 * radius, 2.0 * radius));
            }
        }
        if (r.rawValid && tag.showPosRaw)
            drawRawPosition(painter, chartGeo, pens, tag, float(r.raw.x()), float(r.raw.y()));
        if (r.avgValid && tag.showPosAvg)
            drawAveragedPosition(painter, chartGeo, pens, tag, r.rate);
    }
}

void MainWin::clearRangingHistory()
{
    positioning.clear();
}

void MainWin::drawCalibrationMarks(QPainter* painter)
{
    if (calibration)
        ::drawCalibrationMarks(painter, chartGeo, pens, *calibration);
}

void MainWin::resizeEvent(QResizeEvent* event)
{
    ui->lblChart->setPixmap(*blankPixmap);
    drawnSignature.clear();
    QMainWindow::resizeEvent(event);
    gridDirty = true;
}

bool MainWin::eventFilter(QObject* watched, QEvent* event)
{
    // The splitter resizes the chart area without resizing the window.
    if (watched == ui->chart && event->type() == QEvent::Resize)
        gridDirty = true;
    return QMainWindow::eventFilter(watched, event);
}

void MainWin::on_edtGridX_textChanged(const QString&) { gridDirty = true; }
void MainWin::on_edtGridY_textChanged(const QString&) { gridDirty = true; }
void MainWin::on_edtGridW_textChanged(const QString&) { gridDirty = true; }
void MainWin::on_edtGridH_textChanged(const QString&) { gridDirty = true; }
void MainWin::on_chkDrawGrid_toggled(bool) { gridDirty = true; }
void MainWin::on_chkDrawBGImage_toggled(bool) { gridDirty = true; }

void MainWin::setGridEdits(int x, int y, int w, int h)
{
    ui->edtGridX->setText(QString::number(x));
    ui->edtGridY->setText(QString::number(y));
    ui->edtGridW->setText(QString::number(w));
    ui->edtGridH->setText(QString::number(h));
}

void MainWin::on_btnFitView_clicked() { chartView.fitView(); }
void MainWin::noteAnchorsOutside() { chartView.noteAnchorsOutside(); }
void MainWin::on_btnResetGrid_clicked() { chartView.resetGrid(); }
void MainWin::gridMousePressed(QMouseEvent* event, QPointF point) { chartView.pressed(event, point); }
void MainWin::gridMouseMoved(QMouseEvent* event, QPointF point, bool) { chartView.moved(event, point); }
void MainWin::gridMouseReleased(QMouseEvent* event, QPointF point) { chartView.released(event, point); }
void MainWin::undoAnchorMove() { chartView.undoMove(); }


// ---------------------------------------------------------------- background image

void MainWin::loadBackgroundImage(const QString& path) { calibrationFlow.loadImage(path); }
void MainWin::on_btnSelectBackground_clicked() { calibrationFlow.chooseImage(); }
void MainWin::on_btnClearBackground_clicked() { calibrationFlow.clearImage(); }
void MainWin::on_btnBGImageSetup_clicked() { calibrationFlow.begin(); }
void MainWin::on_btnBGImageOrigin_clicked() { calibrationFlow.pickOrigin(); }
void MainWin::on_btnBGImageDist_clicked() { calibrationFlow.pickPoint(); }
void MainWin::on_edtBGImageDistance_textChanged(const QString& text) { calibrationFlow.distanceEdited(text); }
void MainWin::on_btnAcceptBGImageSetup_clicked() { calibrationFlow.accept(); }
void MainWin::on_btnAcceptBGImageCancel_clicked() { calibrationFlow.cancel(); }
void MainWin::updateCalibrationButtons() { calibrationFlow.updateButtons(); }

// ---------------------------------------------------------------- recording and replay

bool MainWin::startRecording(const QString& path) { return recording.startRecording(path); }
bool MainWin::stopRecording() { return recording.stopRecording(); }
void MainWin::on_btnRecord_clicked() { recording.toggleRecording(); }
bool MainWin::startReplay(const QString& path, double speed) { return recording.startReplay(path, speed); }
void MainWin::stopReplay() { recording.stopReplay(); }
void MainWin::on_btnReplay_clicked() { recording.toggleReplay(); }

// ---------------------------------------------------------------- settings

void MainWin::on_btnSaveSettings_clicked() { settingsFlow.save(); }
void MainWin::on_btnLoadSettings_clicked() { settingsFlow.chooseAndLoad(); }
bool MainWin::loadSettings(const QString& path, bool remind) { return settingsFlow.load(path, remind); }

QString MainWin::lastFolder() const
{
    return Utf8Settings().value(QStringLiteral("Dateien/Ordner")).toString();
}

void MainWin::rememberFolder(const QString& path)
{
    if (!path.isEmpty())
        Utf8Settings().setValue(QStringLiteral("Dateien/Ordner"), QFileInfo(path).absolutePath());
}

// ---------------------------------------------------------------- MQTT

void MainWin::on_btnMqtt_clicked()
{
    MqttDialog dialog(this);
    dialog.setSettings(mqtt.settings());
    dialog.setPasswordFixed(MqttPassword::fromEnvironment());
    dialog.setStatus(mqtt.statusText());
    connect(&mqtt, &MqttPublisher::statusChanged, &dialog, &MqttDialog::setStatus);
    if (dialog.exec() != QDialog::Accepted)
        return;
    MqttSettings settings = dialog.settings();
    if (MqttPassword::fromEnvironment())
        settings.password = MqttPassword::load(settings.host, settings.user);
    else
        MqttPassword::store(settings.host, settings.user, settings.password);
    mqtt.configure(settings);
}

// ---------------------------------------------------------------- tables

void MainWin::fillAnchorTable()
{
    tablesInSync = false;
    for (QFlatComboBox* combo : ModuleTables::fillAnchors(ui->tblAnker, modules.anchors).colours)
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &MainWin::tableAnkerComboBoxSelected);
    tablesInSync = true;
    mqtt.setAnchors(modules.anchors);
}

void MainWin::fillTagTable()
{
    tablesInSync = false;
    const ModuleTables::Editors editors = ModuleTables::fillTags(ui->tblTags, modules.tags);
    for (QFlatComboBox* combo : editors.colours)
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &MainWin::tableTagsComboBoxSelected);
    for (QCheckBox* box : editors.checkBoxes)
        connect(box, &QCheckBox::toggled, this, &MainWin::tableTagsCheckboxToggled);
    tablesInSync = true;
}

void MainWin::readAnchorTable()
{
    modules.anchors = ModuleTables::readAnchors(ui->tblAnker);
    mqtt.setAnchors(modules.anchors);
}

void MainWin::readTagTable() { modules.tags = ModuleTables::readTags(ui->tblTags); }
void MainWin::updateAnchorComboColors() { ModuleTables::recolourCombos(ui->tblAnker); }
void MainWin::updateTagComboColors() { ModuleTables::recolourCombos(ui->tblTags); }

void MainWin::on_tblAnker_cellChanged(int, int)
{
    if (tablesInSync)
        readAnchorTable();
}

void MainWin::tableAnkerCheckboxToggled(bool)
{
    if (tablesInSync)
        readAnchorTable();
}

void MainWin::tableAnkerComboBoxSelected(int)
{
    if (!tablesInSync)
        return;
    readAnchorTable();
    updateAnchorComboColors();
}

void MainWin::on_tblTags_cellChanged(int, int)
{
    if (tablesInSync)
        readTagTable();
}

void MainWin::tableTagsCheckboxToggled(bool)
{
    if (tablesInSync)
        readTagTable();
}

void MainWin::tableTagsComboBoxSelected(int)
{
    if (!tablesInSync)
        return;
    readTagTable();
    updateTagComboColors();
}
