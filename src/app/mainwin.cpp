#include "mainwin.h"
#include "ui_mainwin.h"

#include "framing.h"
#include "masterinfo.h"
#include "qflatcombobox.h"
#include "tablecells.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
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
    : QMainWindow(parent, Qt::WindowFlags())
{
    ui = new Ui::MainWin;
    tablesInSync = false;
    timeOfDay = [] { return QTime::currentTime(); };
    ui->setupUi(this);

    QCoreApplication::setOrganizationName(QStringLiteral("Fenwright"));
    QCoreApplication::setApplicationName(QStringLiteral("DW1000 HRP Orvane V1.1 Demo"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1"));

    QCoreApplication::installTranslator(&translator);
    (void)translator.load(QStringLiteral("qt_de"), QStringLiteral("translations"));

    refreshComPorts();

    redrawTimer = new QTimer(this);
    connect(redrawTimer, &QTimer::timeout, this, &MainWin::redrawChart);
    connect(&com, &ComInterface::portLost, this, &MainWin::portLost, Qt::QueuedConnection);

    ui->btnDisconnect->setEnabled(false);
    ui->btnStartRanging->setEnabled(false);
    ui->btnDiscovery->setEnabled(false);
    ui->btnSendCommand->setEnabled(false);

    ui->tblAnker->setColumnHidden(5, true);
    const int anchorWidths[] = {45, 80, 40, 52, 52, 52, 25, 40};
    for (int c = 0; c < 8; ++c)
        ui->tblAnker->setColumnWidth(c, anchorWidths[c]);
    const int tagWidths[] = {45, 72, 40, 25, 25, 25, 25, 25, 25, 25};
    for (int c = 0; c < 10; ++c)
        ui->tblTags->setColumnWidth(c, tagWidths[c]);

    ui->cmbLastMeasures->setCurrentText(QStringLiteral("10"));
    on_cmbLastMeasures_currentIndexChanged(ui->cmbLastMeasures->currentIndex());

    for (QLabel* l : {ui->lblMouseX, ui->lblMouseY, ui->lblMouseD, ui->lblMouseXD, ui->lblMouseYD})
        l->setText(QStringLiteral("-"));
    ui->labAbstandMaster->setText(QString());
    ui->lblBaud->hide();
    ui->edtBaud->hide();

    updateCalibrationButtons();

    masterInfo = new MasterInfo(nullptr);
    ui->statusBar->addPermanentWidget(masterInfo, 0);

    tablesInSync = true;
}

MainWin::~MainWin()
{
    disconnectPort();
    redrawTimer->stop();
    delete redrawTimer;
    redrawTimer = nullptr;
    for (QList<RangingSample*>& list : rangingHistory)
        qDeleteAll(list);
    rangingHistory.clear();
    delete ui;
    ui = nullptr;
    QCoreApplication::removeTranslator(&translator);
}

// ---------------------------------------------------------------- connection

void MainWin::refreshComPorts()
{
    QStringList names = ComInterface::availablePortNames();
    // Extra device paths (e.g. the stand-in's pseudo-terminal) named by the environment.
    const QStringList extra = qEnvironmentVariable("ORVANE_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& path : extra)
        if (QFileInfo::exists(path) && !names.contains(path))
            names << path;
    ui->cmbComPort->clear();
    ui->cmbComPort->addItems(names);
}

void MainWin::setConnectedControls(bool connected)
{
    ui->btnConnect->setEnabled(!connected);
    ui->btnDisconnect->setEnabled(connected);
    ui->btnRefreshComPorts->setEnabled(!connected);
    ui->cmbComPort->setEnabled(!connected);
    ui->edtBaud->setEnabled(!connected);
    ui->btnStartRanging->setEnabled(connected);
    ui->btnDiscovery->setEnabled(connected);
    ui->lblConnectionState->setText(connected ? tr("verbunden") : tr("nicht verbunden"));
}

void MainWin::connectPort()
{
    int baud = 0;
    bool ok = false;
    baud = ui->edtBaud->text().toInt(&ok, 10);
    if (!ok || baud < 1) {
        setConnectedControls(false);
        masterInfo->setMasterInfo(QString(), QString());
        QMessageBox::warning(this, tr("Verbindung herstellen"), tr("Ungültige Baud-Rate!"), QMessageBox::Ok);
        return;
    }
    if (com.open(ui->cmbComPort->currentText(), baud)) {
        setConnectedControls(true);
        rxBuffer.clear();
        connect(&com, &ComInterface::dataReceived, this, &MainWin::dataReceived, Qt::UniqueConnection);
        com.setForwarding(true);
        masterInfo->setMasterInfo(QString(), QString());
        redrawTimer->start(10);
        return;
    }
    setConnectedControls(false);
    masterInfo->setMasterInfo(QString(), QString());
    QMessageBox box(QMessageBox::Warning, tr("Verbindung herstellen"),
                    tr("Die Verbindung konnte nicht hergestellt werden!"), QMessageBox::Ok, this);
    // Say why (no such device, no permission) so the user knows what to do.
    if (!com.lastError().isEmpty())
        box.setInformativeText(com.lastError());
    box.exec();
}

void MainWin::disconnectPort()
{
    redrawTimer->stop();
    if (!com.isOpen())
        return;
    if (rangingActive) {
        (void)sendCommand("$PG,\r\n", true);
        QThread::msleep(100);
    }
    finishDisconnect();
}

void MainWin::finishDisconnect()
{
    redrawTimer->stop();
    disconnect(&com, &ComInterface::dataReceived, this, &MainWin::dataReceived);
    com.setForwarding(false);
    com.close();
    rxBuffer.clear();
    setConnectedControls(false);
    ui->btnStartRanging->setText(tr("Ranging starten"));
    masterInfo->setMasterInfo(QString(), QString());
    rangingActive = false;
}

void MainWin::portLost()
{
    // The port went away under us (adapter pulled, far end closed): nothing can be
    // sent any more, so go straight to the disconnected state and say so.
    if (!ui->btnDisconnect->isEnabled())
        return;
    finishDisconnect();
    QMessageBox::warning(this, tr("Verbindung"), tr("Die Verbindung zum Master wurde unterbrochen!"),
                         QMessageBox::Ok);
}

void MainWin::on_btnRefreshComPorts_clicked() { refreshComPorts(); }
void MainWin::on_btnConnect_clicked() { connectPort(); }
void MainWin::on_btnDisconnect_clicked() { disconnectPort(); }

void MainWin::on_btnStartRanging_clicked()
{
    if (rangingActive) {
        if (sendCommand("$PG,\r\n", true)) {
            rangingActive = false;
            ui->btnStartRanging->setText(tr("Ranging starten"));
            ui->btnDiscovery->setEnabled(true);
            ui->btnSendCommand->setEnabled(false);
        } else {
            QMessageBox::warning(this, tr("Ranging stoppen"), tr("Das Ranging konnte nicht gestoppt werden!"),
                                 QMessageBox::Ok);
        }
        return;
    }
    if (ui->tblAnker->rowCount() < 3) {
        QMessageBox::information(this, tr("Ranging starten"), tr("Das Ranging ist erst ab 3 Ankern möglich!"),
                                 QMessageBox::Ok);
        return;
    }
    if (sendCommand("$PS,\r\n", true)) {
        rangingActive = true;
        ui->btnStartRanging->setText(tr("Ranging stoppen"));
        ui->btnDiscovery->setEnabled(false);
        ui->btnSendCommand->setEnabled(true);
    } else {
        QMessageBox::warning(this, tr("Ranging starten"), tr("Das Ranging konnte nicht gestartet werden!"),
                             QMessageBox::Ok);
    }
}

void MainWin::on_btnDiscovery_clicked() {}
void MainWin::on_btnSendCommand_clicked() {}
void MainWin::on_btnAbout_clicked() {}

void MainWin::on_cmbLastMeasures_currentIndexChanged(int)
{
    int value = 0;
    averageCount = parseInt(ui->cmbLastMeasures->currentText(), value) ? value : 0;
}

// ---------------------------------------------------------------- exchange

bool MainWin::sendCommand(const QByteArray& command, bool loose)
{
    // Reached again from the event loop this exchange spins (a queued handler,
    // a timer), a blocking lock would deadlock the GUI thread: refuse instead.
    if (!exchangeMutex.tryLock())
        return false;
    if (!com.isOpen()) {
        exchangeMutex.unlock();
        return false;
    }
    replyOk = false;
    awaitingReply = true;
    looseReply = loose;
    setEnabled(false);
    bool result = false;
    if (com.write(command)) {
        while (awaitingReply && com.commandPending) {
            QThread::msleep(10);
            QCoreApplication::processEvents();
        }
        result = replyOk;
    }
    awaitingReply = false;
    setEnabled(true);
    exchangeMutex.unlock();
    return result;
}

void MainWin::executeCommand(QByteArray command, bool loose)
{
    const bool ok = !command.isEmpty() && sendCommand(command, loose);
    emit commandResult(ok);
}

// ---------------------------------------------------------------- receiving

void MainWin::dataReceived(QByteArray data)
{
    const QByteArray chunk = Framing::takeCompleteLines(rxBuffer, data);
    if (!chunk.isEmpty())
        processLines(chunk);
}

void MainWin::processLines(const QByteArray& chunk)
{
    Framing::forEachLine(chunk, [this](const QByteArray& line) {
        if (!Framing::isPacketLine(line))
            return;
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
    auto* sample = new RangingSample(line, timeOfDay());
    (void)sample->parse();
    QList<RangingSample*>& list = rangingHistory[sample->tagId];
    list.append(sample);
    while (list.size() > 200)
        delete list.takeFirst();
}

// ---------------------------------------------------------------- chart

void MainWin::redrawChart()
{
    redrawTimer->stop();
    redrawTimer->start(10);
}

void MainWin::updateCalibrationButtons()
{
    const bool calibrating = false;
    ui->btnBGImageOrigin->setEnabled(calibrating);
    ui->btnAcceptBGImageCancel->setEnabled(calibrating);
    ui->btnAcceptBGImageSetup->setEnabled(calibrating);
    ui->btnBGImageDist->setEnabled(calibrating);
    ui->edtBGImageDistance->setEnabled(calibrating);
    ui->btnBGImageSetup->setEnabled(!calibrating);
}

// ---------------------------------------------------------------- tables

void MainWin::fillAnchorTable()
{
    tablesInSync = false;
    QTableWidget* t = ui->tblAnker;
    clearTable(t);
    for (int i = 0; i < modules.anchors.size(); ++i) {
        const Anchor& a = modules.anchors.at(i);
        t->insertRow(i);
        setTextCell(t, i, 0, a.id, false);
        setTextCell(t, i, 1, a.name, true);
        QFlatComboBox* combo = setColorComboCell(t, i, 2, a.color);
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &MainWin::tableAnkerComboBoxSelected);
        setTextCell(t, i, 3, QString::number(a.x), true);
        setTextCell(t, i, 4, QString::number(a.y), true);
        setTextCell(t, i, 5, QString::number(a.z), true);
        setCheckBoxCell(t, i, 6, a.master, false);
        setTextCell(t, i, 7, QString::number(a.offset), true);
    }
    tablesInSync = true;
}

void MainWin::fillTagTable()
{
    tablesInSync = false;
    QTableWidget* t = ui->tblTags;
    clearTable(t);
    for (int i = 0; i < modules.tags.size(); ++i) {
        const Tag& g = modules.tags.at(i);
        t->insertRow(i);
        setTextCell(t, i, 0, g.id, false);
        setTextCell(t, i, 1, g.name, true);
        QFlatComboBox* combo = setColorComboCell(t, i, 2, g.color);
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &MainWin::tableTagsComboBoxSelected);
        const bool flags[] = {g.showPosRaw, g.showPosAvg, g.showDistRaw, g.showDistAvg,
                              g.showCoordinates, g.showSpeed, g.showRate};
        for (int c = 0; c < 7; ++c) {
            QCheckBox* box = setCheckBoxCell(t, i, 3 + c, flags[c], true);
            connect(box, &QCheckBox::toggled, this, &MainWin::tableTagsCheckboxToggled);
        }
    }
    tablesInSync = true;
}

namespace {
QString cellText(QTableWidget* t, int row, int column)
{
    const QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
}
int cellInt(QTableWidget* t, int row, int column)
{
    return cellText(t, row, column).trimmed().toInt();
}
} // namespace

void MainWin::readAnchorTable()
{
    QTableWidget* t = ui->tblAnker;
    modules.anchors.clear();
    for (int pass = 0; pass < 2; ++pass) {
        const bool wantMaster = pass == 0;
        for (int r = 0; r < t->rowCount(); ++r) {
            if (isCellChecked(t, r, 6) != wantMaster)
                continue;
            modules.anchors.append(Anchor(cellText(t, r, 0), cellText(t, r, 1), cellColor(t, r, 2),
                                          cellInt(t, r, 3), cellInt(t, r, 4), cellInt(t, r, 5),
                                          wantMaster, cellInt(t, r, 7)));
        }
    }
}

void MainWin::readTagTable()
{
    QTableWidget* t = ui->tblTags;
    modules.tags.clear();
    for (int r = 0; r < t->rowCount(); ++r) {
        modules.tags.append(Tag(cellText(t, r, 0), cellText(t, r, 1), cellColor(t, r, 2),
                                isCellChecked(t, r, 3), isCellChecked(t, r, 4), isCellChecked(t, r, 5),
                                isCellChecked(t, r, 6), isCellChecked(t, r, 7), isCellChecked(t, r, 8),
                                isCellChecked(t, r, 9)));
    }
}

namespace {
void recolourCombos(QTableWidget* t)
{
    for (int r = 0; r < t->rowCount(); ++r) {
        QWidget* cell = t->cellWidget(r, 2);
        auto* combo = cell ? cell->findChild<QFlatComboBox*>() : nullptr;
        if (!combo || combo->currentIndex() < 0 || combo->currentIndex() >= combo->count())
            continue;
        const QColor color = combo->currentData(Qt::UserRole).value<QColor>();
        QPalette palette = combo->palette();
        for (QPalette::ColorRole role : {QPalette::Window, QPalette::Highlight, QPalette::Base})
            palette.setBrush(QPalette::All, role, QBrush(color));
        combo->setPalette(palette);
    }
}
} // namespace

void MainWin::updateAnchorComboColors() { recolourCombos(ui->tblAnker); }
void MainWin::updateTagComboColors() { recolourCombos(ui->tblTags); }

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
