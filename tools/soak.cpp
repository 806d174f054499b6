// orvane-soak: the main window against the stand-in for the master (orvane-sim,
// a separate process, so that this process's CPU time is the program's own) at
// the full link rate with malformed lines mixed in, for a given time. It counts
// the ranging lines sent against those stored, samples resident memory every
// second, times the chart passes, measures CPU use, and disconnects and
// reconnects every few seconds. With --record, every connection is recorded
// and the recordings are replayed at the end, which must give back every line.
// One summary line goes to stdout; the exit status is 1 when a line was lost,
// memory grew, the chart fell behind, a reconnect failed or a recording did
// not replay whole, 2 when the soak could not be set up.
#include "mainwin.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPixmapCache>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#ifndef ORVANE_SIM_PATH
#define ORVANE_SIM_PATH "orvane-sim"
#endif

namespace {

volatile sig_atomic_t simPid = 0;

// Interrupted, the soak takes the stand-in with it instead of leaving it running.
void onSignal(int sig)
{
    if (simPid > 0)
        ::kill(pid_t(simPid), SIGTERM);
    ::_exit(128 + sig);
}

constexpr double MaxGrowthMb = 5.0;
constexpr double MaxMedianIntervalMs = 15.0;

// Four anchors in the corners of a 10 m x 8 m room and four tags on the move,
// all of them configured, so every ranging line carries four distances.
const char RoomJson[] = R"({
  "name": "Soak",
  "anchors": [
    {"id": "1A2B", "x": 0, "y": 0},
    {"id": "3C4D", "x": 1000, "y": 0},
    {"id": "5E6F", "x": 1000, "y": 800},
    {"id": "7A80", "x": 0, "y": 800}
  ],
  "tags": [
    {"id": "2B01", "waypoints": [[200, 200], [800, 200], [800, 600], [200, 600]], "speed": 100},
    {"id": "2B02", "position": [300, 400]},
    {"id": "2B03", "waypoints": [[600, 500], [700, 300]], "speed": 50},
    {"id": "2B04", "waypoints": [[150, 650], [850, 150]], "speed": 150}
  ]
})";

void runFor(qint64 ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(int(ms), &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        runFor(10);
    return done();
}

double rssMb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

// The allocator's view: memory in live blocks, and freed memory it keeps
// instead of handing back. RSS that grows with the first flat is a leak;
// with the second growing, it is the allocator holding on to freed pages.
QString heapText()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 m = ::mallinfo2();
    return QStringLiteral("heap in use %1 MB, freed but kept %2 MB")
        .arg(double(m.uordblks + m.hblkhd) / (1024.0 * 1024.0), 0, 'f', 1)
        .arg(double(m.fordblks) / (1024.0 * 1024.0), 0, 'f', 1);
#else
    return QStringLiteral("heap figures need glibc 2.33");
#endif
}

double cpuSeconds(int who)
{
    struct rusage ru;
    if (::getrusage(who, &ru) != 0)
        return 0;
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2);
}

// Durations counted in 10-microsecond bins up to 2 s, the rest in the last
// one. Its memory is fixed from the start: a list of every sample grew by
// doubling during long runs and showed up as the program's memory growth.
struct Durations
{
    static constexpr double BinMs = 0.01;
    std::vector<quint32> bins = std::vector<quint32>(200001, 0);
    quint64 count = 0;
    double maxMs = 0;
    void add(double ms)
    {
        bins[size_t(std::clamp(ms / BinMs, 0.0, double(bins.size() - 1)))] += 1;
        ++count;
        maxMs = std::max(maxMs, ms);
    }
    bool empty() const { return count == 0; }
};

double percentile(const Durations& d, double p)
{
    if (d.empty())
        return 0;
    const quint64 k = std::min<quint64>(d.count - 1, quint64(p * double(d.count - 1) + 0.5));
    quint64 seen = 0;
    for (size_t i = 0; i < d.bins.size(); ++i) {
        seen += d.bins[i];
        if (seen > k)
            return double(i) * Durations::BinMs;
    }
    return d.maxMs;
}

QMap<QString, qint64> readStats(const QString& path)
{
    QMap<QString, qint64> stats;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return stats;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            stats.insert(QString::fromLatin1(line.left(eq)), line.mid(eq + 1).toLongLong());
    }
    return stats;
}

// Notes when a redraw timer event arrives, i.e. just before the chart pass it
// triggers; the pass's end is seen by a slot connected after the window's own.
class PassStartFilter : public QObject
{
public:
    QElapsedTimer* clock = nullptr;
    qint64 startNs = -1;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            startNs = clock->nsecsElapsed();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-soak"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the main window against orvane-sim at the full link rate and checks that no ranging line\n"
        "is lost, that memory stays flat after the warm-up (the first minute; the first 10 s for runs\n"
        "of 90 s or less), that the chart keeps a median pass interval under 15 ms and that every\n"
        "reconnect succeeds."));
    parser.addHelpOption();
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("Length of the run (default 60)."),
                                        QStringLiteral("n"), QStringLiteral("60"));
    const QCommandLineOption reconnectOpt(QStringLiteral("reconnect-every"),
        QStringLiteral("Disconnect and reconnect every <s> seconds; 0: never (default 5)."), QStringLiteral("s"),
        QStringLiteral("5"));
    const QCommandLineOption malformedOpt(QStringLiteral("malformed"),
        QStringLiteral("The stand-in mixes in one malformed line after every <n> lines (default 50)."),
        QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption pixmapCacheOpt(QStringLiteral("pixmap-cache"),
        QStringLiteral("Limit of Qt's pixmap cache in KB during the run; 0: Qt's default of 10240 (default 1024)."),
        QStringLiteral("kb"), QStringLiteral("1024"));
    const QCommandLineOption simOpt(QStringLiteral("sim"), QStringLiteral("The orvane-sim executable."),
                                    QStringLiteral("path"), QStringLiteral(ORVANE_SIM_PATH));
    const QCommandLineOption recordOpt(QStringLiteral("record"),
        QStringLiteral("Record every connection and replay the recordings at the end."));
    const QCommandLineOption idleOpt(QStringLiteral("idle"),
        QStringLiteral("Before ranging, stay connected and idle for <s> seconds and report the CPU used (default 0)."),
        QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption mqttOpt(QStringLiteral("mqtt"),
        QStringLiteral("Publish the positions to the MQTT broker at <host:port> during the run."),
        QStringLiteral("host:port"));
    parser.addOptions({secondsOpt, reconnectOpt, malformedOpt, pixmapCacheOpt, simOpt, recordOpt, idleOpt, mqttOpt});
    parser.process(app);

    bool ok1 = false, ok2 = false, ok3 = false, ok4 = false;
    const int seconds = parser.value(secondsOpt).toInt(&ok1);
    const int reconnectEvery = parser.value(reconnectOpt).toInt(&ok2);
    const int malformed = parser.value(malformedOpt).toInt(&ok3);
    const int pixmapCacheKb = parser.value(pixmapCacheOpt).toInt(&ok4);
    const int idleSeconds = qMax(0, parser.value(idleOpt).toInt());
    if (!ok1 || seconds < 1 || !ok2 || reconnectEvery < 0 || !ok3 || malformed < 1 || !ok4 || pixmapCacheKb < 0) {
        std::fprintf(stderr, "orvane-soak: --seconds and --malformed need a whole number of at least 1, "
                             "--reconnect-every and --pixmap-cache one of at least 0\n");
        return 2;
    }
    // Every reconnect brings a module list, and the window rebuilds its tables
    // with new colour boxes, each with a palette of its own; the style caches
    // their drawings per palette in Qt's pixmap cache. That cache is bounded
    // (10 MB by default) but takes many reconnects to fill, so over a soak it
    // looks like growth. A small limit keeps it out of the memory figure.
    if (pixmapCacheKb > 0)
        QPixmapCache::setCacheLimit(pixmapCacheKb);

    // ---- the stand-in, in its own process
    QTemporaryDir tmp;
    const QString roomPath = tmp.filePath(QStringLiteral("room.json"));
    const QString statsPath = tmp.filePath(QStringLiteral("stats.txt"));
    {
        QFile room(roomPath);
        if (!tmp.isValid() || !room.open(QIODevice::WriteOnly) || room.write(RoomJson) < 0) {
            std::fprintf(stderr, "orvane-soak: cannot write the scenario to %s\n", qPrintable(roomPath));
            return 2;
        }
    }
    QProcess sim;
    sim.setProgram(parser.value(simOpt));
    sim.setArguments({QStringLiteral("--no-link"), QStringLiteral("--full-rate"), QStringLiteral("--malformed"),
                      QString::number(malformed), QStringLiteral("--scenario"), roomPath, QStringLiteral("--stats"),
                      statsPath});
    sim.start();
    QElapsedTimer startWait;
    startWait.start();
    while (!sim.canReadLine() && startWait.elapsed() < 5000 && sim.state() != QProcess::NotRunning)
        sim.waitForReadyRead(100);
    simPid = sig_atomic_t(sim.processId());
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, onSignal);
    const QString ptyPath = QString::fromLocal8Bit(sim.readLine()).trimmed();
    if (ptyPath.isEmpty()) {
        std::fprintf(stderr, "orvane-soak: %s did not start: %s %s\n", qPrintable(sim.program()),
                     qPrintable(sim.errorString()), sim.readAllStandardError().constData());
        return 2;
    }

    // ---- the window: shown, chart about 1000 x 800, every display flag on
    MainWin w;
    w.resize(1400, 1000);
    w.show();
    if (QWidget* chart = w.findChild<QWidget*>(QStringLiteral("chart")))
        chart->setFixedSize(1000, 800);
    const QList<QPair<const char*, const char*>> grid = {
        {"edtGridX", "-100"}, {"edtGridY", "-100"}, {"edtGridW", "1200"}, {"edtGridH", "1000"}};
    for (const auto& g : grid)
        if (auto* edit = w.findChild<QLineEdit*>(QString::fromLatin1(g.first)))
            edit->setText(QString::fromLatin1(g.second));
    w.modules.anchors = {Anchor("1A2B", "Master", QColor(255, 0, 0), 0, 0, 0, true, 0),
                         Anchor("3C4D", "A1", QColor(0, 0, 255), 1000, 0, 0, false, 0),
                         Anchor("5E6F", "A2", QColor(0, 170, 170), 1000, 800, 0, false, 0),
                         Anchor("7A80", "A3", QColor(170, 0, 170), 0, 800, 0, false, 0)};
    const QColor tagColors[] = {QColor(34, 153, 255), QColor(255, 140, 0), QColor(0, 160, 0), QColor(200, 0, 100)};
    w.modules.tags.clear();
    for (int t = 0; t < 4; ++t)
        w.modules.tags << Tag(QStringLiteral("2B0%1").arg(t + 1), QStringLiteral("Tag%1").arg(t + 1), tagColors[t],
                              true, true, true, true, true, true, true);
    w.fillAnchorTable();
    w.fillTagTable();
    if (parser.isSet(mqttOpt)) {
        MqttSettings mqtt;
        mqtt.enabled = true;
        mqtt.host = parser.value(mqttOpt).section(QLatin1Char(':'), 0, 0);
        mqtt.port = parser.value(mqttOpt).section(QLatin1Char(':'), 1).toInt();
        if (mqtt.port <= 0)
            mqtt.port = MqttSettings::DefaultPort;
        w.mqttPublisher().configure(mqtt);
        if (!waitUntil([&] { return w.mqttPublisher().isConnected(); }, 5000))
            std::fprintf(stderr, "orvane-soak: %s\n", qPrintable(w.mqttPublisher().statusText()));
    }
    QCoreApplication::processEvents();

    auto* portBox = w.findChild<QComboBox*>(QStringLiteral("cmbComPort"));
    auto* rangingButton = w.findChild<QPushButton*>(QStringLiteral("btnStartRanging"));
    auto* disconnectButton = w.findChild<QPushButton*>(QStringLiteral("btnDisconnect"));
    if (!portBox || !rangingButton || !disconnectButton) {
        std::fprintf(stderr, "orvane-soak: the main window lacks its controls\n");
        return 2;
    }

    // A message box would stop the soak: answer it, and remember what it said.
    QStringList boxes;
    QTimer boxAnswerer;
    QObject::connect(&boxAnswerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxes << box->text();
        std::fprintf(stderr, "orvane-soak: message box \"%s\"\n", qPrintable(box->text()));
        QAbstractButton* button = box->defaultButton() ? box->defaultButton() : box->buttons().value(0);
        if (button)
            button->click();
        else
            box->reject();
    });
    boxAnswerer.start(50);

    auto connected = [&] {
        return w.com.isOpen() && disconnectButton->isEnabled();
    };
    // Time spent ranging, for the line rate actually offered by the link.
    QElapsedTimer rangingClock;
    qint64 rangingMs = 0;
    // Recording: one file per connection, since a disconnect ends a recording.
    const bool record = parser.isSet(recordOpt);
    QStringList recordings;
    bool recordingsSaved = true;
    auto connectAndRange = [&] {
        portBox->setEditText(ptyPath);
        w.connectPort();
        if (!connected())
            return false;
        if (record) {
            recordings << tmp.filePath(QStringLiteral("session-%1.orec").arg(recordings.size(), 5, 10, QLatin1Char('0')));
            if (!w.startRecording(recordings.last()))
                return false;
        }
        const quint64 before = w.rangingLinesStored();
        rangingButton->click();   // waits for the master's echo
        if (!w.rangingActive)
            return false;
        rangingClock.start();
        // Any line of the right shape passes for the echo, so only ranging
        // lines arriving show that ranging really runs.
        return waitUntil([&] { return w.rangingLinesStored() > before; }, 2000);
    };
    // Stopping first and waiting for the echo means every ranging line the
    // stand-in counted has arrived before the port closes.
    auto stopAndDisconnect = [&] {
        bool ok = true;
        if (w.rangingActive) {
            rangingButton->click();
            ok = !w.rangingActive;
            if (rangingClock.isValid())
                rangingMs += rangingClock.elapsed();
            rangingClock.invalidate();
        }
        runFor(100);
        // Closing the recording first makes its result known; the disconnect
        // would close it too, silently.
        if (record && !w.stopRecording())
            recordingsSaved = false;
        w.disconnectPort();
        return ok && !w.com.isOpen();
    };

    // ---- chart cadence
    QElapsedTimer clock;
    clock.start();
    Durations intervalsMs;
    Durations passMs;
    qint64 lastPassNs = -1;
    quint64 passes = 0;
    PassStartFilter passStart;
    passStart.clock = &clock;
    w.redrawTimer->installEventFilter(&passStart);
    QObject::connect(w.redrawTimer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        ++passes;
        if (passStart.startNs >= 0)
            passMs.add(double(now - passStart.startNs) / 1e6);
        if (lastPassNs >= 0)
            intervalsMs.add(double(now - lastPassNs) / 1e6);
        lastPassNs = now;
        passStart.startNs = -1;
    });

    // ---- resident memory, once a second, and a progress line now and then
    // Long runs count growth from minute 5, once start-up and the first recordings have settled.
    const double baselineAtS = seconds >= 600 ? 300 : seconds > 90 ? 60 : 10;
    const size_t progressEvery = seconds > 90 ? 30 : 10;
    std::vector<double> rss;
    rss.reserve(size_t(seconds) + 600);   // one a second, allocated before the baseline
    double baselineMb = -1;
    double peakMb = 0;
    QElapsedTimer wall;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const double mb = rssMb();
        rss.push_back(mb);
        peakMb = std::max(peakMb, mb);
        const double t = double(wall.elapsed()) / 1000.0;
        if (baselineMb < 0 && t >= baselineAtS - 0.5)
            baselineMb = mb;
        if (rss.size() % progressEvery == 0) {
            // Objects under the window and the link: a count that climbs is a leak.
            const int objects = int(w.findChildren<QObject*>().size() + w.com.findChildren<QObject*>().size());
            std::fprintf(stderr, "orvane-soak: %3.0f s, RSS %.1f MB, %s, objects %d, stored %llu, chart passes %llu, "
                                 "load %s\n",
                         t, mb, qPrintable(heapText()), objects, static_cast<unsigned long long>(w.rangingLinesStored()),
                         static_cast<unsigned long long>(passes), qPrintable(loadAverage()));
        }
    });

    // ---- the run. Everything happens inside the application's event loop, as
    // the user's actions would: the window deletes replaced table cells with
    // deleteLater(), which only takes effect once control is back in the
    // outermost loop; driven from outside any loop they would pile up.
    const qint64 totalMs = qint64(seconds) * 1000;
    const qint64 stepMs = qint64(reconnectEvery) * 1000;
    qint64 nextReconnect = stepMs > 0 ? stepMs : totalMs + 1;
    int reconnectsOk = 0;
    int reconnectsFailed = 0;
    bool started = false;
    QString loadBefore;
    double cpuStart = 0;
    double cpuPercent = 0;
    double firstMb = 0;
    double wallS = 0;

    auto reconnect = [&] {
        const bool down = stopAndDisconnect();
        lastPassNs = -1;   // no interval across the pause
        runFor(250);
        const bool up = connectAndRange();
        if (down && up) {
            ++reconnectsOk;
            return;
        }
        ++reconnectsFailed;
        std::fprintf(stderr, "orvane-soak: reconnect at %.1f s failed (%s)\n", double(wall.elapsed()) / 1000.0,
                     !down ? "stopping" : connected() ? "ranging did not start" : "not connected");
        if (!connected())
            connectAndRange();
    };
    std::function<void()> tick = [&] {
        if (wall.elapsed() >= totalMs) {
            wallS = double(wall.elapsed()) / 1000.0;
            cpuPercent = 100.0 * (cpuSeconds(RUSAGE_SELF) - cpuStart) / wallS;
            sampler.stop();
            QCoreApplication::quit();
            return;
        }
        if (wall.elapsed() >= nextReconnect) {
            nextReconnect += stepMs;
            reconnect();
        }
        const qint64 wait = std::min(totalMs, nextReconnect) - wall.elapsed();
        QTimer::singleShot(int(std::max<qint64>(0, wait)), &app, [&] { tick(); });
    };
    // Connected but not ranging: what the window costs while nothing moves.
    double idleCpuPercent = -1;
    if (idleSeconds > 0) {
        portBox->setEditText(ptyPath);
        w.connectPort();
        if (!connected()) {
            std::fprintf(stderr, "orvane-soak: could not connect to %s\n", qPrintable(ptyPath));
            return 2;
        }
        runFor(1000);
        const double before = cpuSeconds(RUSAGE_SELF);
        QElapsedTimer idleClock;
        idleClock.start();
        runFor(qint64(idleSeconds) * 1000);
        idleCpuPercent = 100.0 * (cpuSeconds(RUSAGE_SELF) - before) * 1000.0 / double(idleClock.elapsed());
        w.disconnectPort();
        runFor(250);
    }
    QTimer::singleShot(0, &app, [&] {
        if (!connectAndRange()) {
            QCoreApplication::quit();
            return;
        }
        started = true;
        loadBefore = loadAverage();
        cpuStart = cpuSeconds(RUSAGE_SELF);
        wall.start();
        sampler.start(1000);
        firstMb = rssMb();
        tick();
    });
    app.exec();
    if (!started) {
        std::fprintf(stderr, "orvane-soak: could not connect to %s and start ranging\n", qPrintable(ptyPath));
        return 2;
    }
    const double endMb = rss.empty() ? rssMb() : rss.back();
    if (baselineMb < 0)
        baselineMb = firstMb;

    // ---- the tally: stop ranging, let the last lines arrive, then count
    const bool stoppedClean = stopAndDisconnect();
    const quint64 storedAll = w.rangingLinesStored();
    boxAnswerer.stop();
    simPid = 0;
    sim.terminate();
    if (!sim.waitForFinished(5000)) {
        sim.kill();
        sim.waitForFinished(2000);
    }
    const QByteArray simErr = sim.readAllStandardError().trimmed();
    const double simCpuPercent = 100.0 * cpuSeconds(RUSAGE_CHILDREN) / wallS;
    const QMap<QString, qint64> stats = readStats(statsPath);
    if (!stats.contains(QStringLiteral("D"))) {
        std::fprintf(stderr, "orvane-soak: the stand-in left no counters in %s\n%s\n", qPrintable(statsPath),
                     simErr.constData());
        return 2;
    }
    // The window stores every 'D' line, also a malformed one; the stand-in
    // says how many of its malformed lines looked like 'D' lines.
    const qint64 sent = stats.value(QStringLiteral("D"));
    const qint64 stored = qint64(storedAll) - stats.value(QStringLiteral("malformed_D"));
    const qint64 lost = sent - stored;
    const qint64 malformedSent = stats.value(QStringLiteral("malformed"));

    // Every recording replayed as fast as possible through the window must give
    // back every line the window stored while it was recorded.
    quint64 replayed = 0;
    QElapsedTimer replayClock;
    replayClock.start();
    const double replayCpuStart = cpuSeconds(RUSAGE_SELF);
    for (const QString& path : qAsConst(recordings)) {
        const quint64 before = w.rangingLinesStored();
        if (!w.startReplay(path, 0.0)) {
            recordingsSaved = false;
            continue;
        }
        while (w.isReplaying())
            runFor(50);
        replayed += w.rangingLinesStored() - before;
        QFile::remove(path);
        QFile::remove(QFileInfo(path).dir().filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".csv")));
        const QDir folder = QFileInfo(path).dir();
        for (const QString& name : folder.entryList({QFileInfo(path).completeBaseName() + QStringLiteral(".replay-*.csv")}, QDir::Files))
            QFile::remove(folder.filePath(name));
    }
    const double replayS = double(replayClock.elapsed()) / 1000.0;
    const double replayCpuPercent = 100.0 * (cpuSeconds(RUSAGE_SELF) - replayCpuStart) / std::max(0.001, replayS);
    if (idleCpuPercent >= 0)
        std::printf("idle: connected, not ranging, %d s: CPU %.2f %%\n", idleSeconds, idleCpuPercent);
    if (record)
        std::printf("recordings: %d, lines replayed %llu of %llu stored, replay as fast as possible %.1f s "
                    "(%.0f lines/s, CPU %.0f %%)\n",
                    int(recordings.size()), static_cast<unsigned long long>(replayed),
                    static_cast<unsigned long long>(storedAll), replayS, double(replayed) / std::max(0.001, replayS),
                    replayCpuPercent);

    const double growth = endMb - baselineMb;
    const double median = percentile(intervalsMs, 0.5);
    const double p95 = percentile(intervalsMs, 0.95);

    std::printf("soak: %d s, lines sent %lld, stored %lld, lost %lld, malformed %lld, RSS at the baseline %.1f MB -> end "
                "%.1f MB (growth %.1f MB), chart passes %llu, median interval %.1f ms, p95 %.1f ms, CPU %.1f %%, "
                "reconnects %d ok / %d failed\n",
                int(wallS + 0.5), static_cast<long long>(sent), static_cast<long long>(stored),
                static_cast<long long>(lost), static_cast<long long>(malformedSent), baselineMb, endMb, growth,
                static_cast<unsigned long long>(passes), median, p95, cpuPercent, reconnectsOk, reconnectsFailed);
    const double linesPerSecond = double(sent) * 1000.0 / double(std::max<qint64>(1, rangingMs));
    const double maxInterval = intervalsMs.maxMs;
    std::fprintf(stderr,
                 "orvane-soak: %.0f lines/s while ranging, RSS at start %.1f MB, peak %.1f MB (baseline at %.0f s); "
                 "chart pass median %.2f ms, p95 %.2f ms, max interval %.1f ms; stand-in CPU %.1f %%, dropped %lld; "
                 "load %s -> %s; message boxes %d; pixmap cache limit %d KB\n",
                 linesPerSecond, firstMb, peakMb, baselineAtS, percentile(passMs, 0.5), percentile(passMs, 0.95),
                 maxInterval, simCpuPercent, static_cast<long long>(stats.value(QStringLiteral("dropped"))),
                 qPrintable(loadBefore), qPrintable(loadAverage()), int(boxes.size()), QPixmapCache::cacheLimit());
    if (parser.isSet(mqttOpt)) {
        // A run that ends while the broker is down would take with it what the
        // broker has not acknowledged: the soak asks for delivery under broker
        // faults, not for quitting during one, so it waits for the broker first.
        QElapsedTimer drain;
        drain.start();
        const bool drained = waitUntil([&] {
            return w.mqttPublisher().isConnected() && w.mqttPublisher().unacknowledged() == 0;
        }, 60000);
        std::fprintf(stderr, "orvane-soak: MQTT positions published %llu, dropped %llu; %s; %s after %.1f s\n",
                     static_cast<unsigned long long>(w.mqttPublisher().counts().published),
                     static_cast<unsigned long long>(w.mqttPublisher().counts().dropped),
                     qPrintable(w.mqttPublisher().statusText()),
                     drained ? "all acknowledged" : "NOT all acknowledged", double(drain.elapsed()) / 1000.0);
    }
    if (!simErr.isEmpty())
        std::fprintf(stderr, "%s\n", simErr.constData());
    std::fflush(stdout);

    QStringList faults;
    if (lost != 0)
        faults << QStringLiteral("%1 lines lost").arg(lost);
    if (growth >= MaxGrowthMb)
        faults << QStringLiteral("memory grew by %1 MB").arg(growth, 0, 'f', 1);
    if (intervalsMs.empty() || median >= MaxMedianIntervalMs)
        faults << QStringLiteral("median chart interval %1 ms").arg(median, 0, 'f', 1);
    if (reconnectsFailed > 0)
        faults << QStringLiteral("%1 reconnects failed").arg(reconnectsFailed);
    if (!stoppedClean)
        faults << QStringLiteral("ranging did not stop at the end");
    if (record && (!recordingsSaved || replayed != storedAll))
        faults << QStringLiteral("recordings replayed %1 of %2 lines%3").arg(replayed).arg(storedAll)
                      .arg(recordingsSaved ? QString() : QStringLiteral(", a recording failed"));
    if (!faults.isEmpty()) {
        std::fprintf(stderr, "orvane-soak: FAILED: %s\n", qPrintable(faults.join(QStringLiteral(", "))));
        return 1;
    }
    return 0;
}
