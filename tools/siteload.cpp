// orvane-siteload: kits for the site view, through a real broker. It
// publishes N kits of T moving tags each at R Hz, as kits do (status with the
// last will, anchors, info, every position and the retained last one), with
// the program's own publisher, one per kit.
//
//   orvane-siteload --broker HOST:PORT [--kits N] [--tags T] [--rate HZ] [--duration S]
//                   [--offline K] [--clock-ahead-ms MS]
//
// --offline K stops the last K kits after a third of the run (they say
// "offline"); --clock-ahead-ms sets the first kit's clock ahead. On its end it
// prints "published P dropped D".
//
//   orvane-siteload --measure [--bridge] [--kits N] [--tags T] [--rate HZ] [--duration S]
//
// measures the site view instead: it starts a mosquitto of its own on
// 127.0.0.1 (with --bridge two, the kits on one and the view on the other,
// joined by a bridge), runs itself as the generator against it and the site
// view's window (offscreen) in this process, and prints what the generator
// published, what the view received and took, the latency from publishing to
// the chart's paint (p50, p95, max), this process's CPU share of one core and
// its resident memory over the run. Exit code 1 when the view dropped a position.
#include "mqttpublisher.h"
#include "sitechart.h"
#include "sitewindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Options {
    QString broker;
    int kits = 3, tags = 4, durationS = 60, offline = 0, aheadMs = 0;
    double rate = 10.0;
    bool measure = false, bridge = false;
};

QString kitId(int k) { return QStringLiteral("K%1").arg(k + 1, 3, 10, QLatin1Char('0')); }

int generate(const Options& o)
{
    const int colon = o.broker.lastIndexOf(QLatin1Char(':'));
    MqttSettings s;
    s.enabled = true;
    s.host = colon > 0 ? o.broker.left(colon) : o.broker;
    s.port = colon > 0 ? o.broker.mid(colon + 1).toInt() : MqttSettings::DefaultPort;
    std::vector<std::unique_ptr<MqttPublisher>> kits;
    const QColor colours[] = {Qt::red, Qt::blue, QColor(0, 150, 0), QColor(230, 120, 0)};
    for (int k = 0; k < o.kits; ++k) {
        kits.push_back(std::make_unique<MqttPublisher>());
        const QString id = kitId(k);
        kits.back()->setAnchors({Anchor(id, "Master", Qt::red, 0, 0, 0, true, 0), Anchor(id + "1", "Ost", Qt::blue, 1000, 0, 0, false, 0),
                                 Anchor(id + "2", "Nordost", Qt::green, 1000, 800, 0, false, 0),
                                 Anchor(id + "3", "Nord", Qt::black, 0, 800, 0, false, 0)});
        QList<Tag> tags;
        for (int t = 0; t < o.tags; ++t)
            tags << Tag(QStringLiteral("2B%1").arg(t, 2, 10, QLatin1Char('0')), QStringLiteral("Wagen %1").arg(t + 1),
                        colours[t % 4], false, true, false, false, false, false, false);
        kits.back()->setTags(tags);
        MqttSettings mine = s;
        mine.kitName = QStringLiteral("Halle %1").arg(k + 1);
        kits.back()->configure(mine);
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000 && !std::all_of(kits.begin(), kits.end(), [](const auto& p) { return p->isConnected(); }))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // Kits are not in step with each other: each publishes in its own tenth of the period.
    QTimer pass;
    quint64 subtick = 0;
    QObject::connect(&pass, &QTimer::timeout, [&] {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const bool late = clock.elapsed() > o.durationS * 1000 / 3;
        const quint64 tick = subtick / 10;
        for (int k = int(subtick % 10); k < o.kits; k += 10) {
            if (late && k >= o.kits - o.offline) {
                if (kits[k]->isEnabled())
                    kits[k]->configure(MqttSettings());   // says "offline"
                continue;
            }
            for (int t = 0; t < o.tags; ++t) {
                // Each tag on its own circle about the room's middle.
                const double a = (tick / o.rate) * (0.3 + 0.1 * t) + t * 1.7 + k;
                const int x = 500 + int(std::lround((150 + 60 * t) * std::cos(a)));
                const int y = 400 + int(std::lround((100 + 50 * t) * std::sin(a)));
                kits[k]->publishPosition({QString(), QStringLiteral("2B%1").arg(t, 2, 10, QLatin1Char('0')),
                                          QStringLiteral("Wagen %1").arg(t + 1), now + (k == 0 ? o.aheadMs : 0), x, y,
                                          x, y, 0.5, o.rate, {}, {}, {}, {}});
            }
        }
        ++subtick;
    });
    pass.setTimerType(Qt::PreciseTimer);
    pass.start(qMax(1, int(std::lround(100.0 / o.rate))));
    QTimer::singleShot(o.durationS * 1000, &pass, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    pass.stop();
    quint64 published = 0, dropped = 0;
    for (auto& k : kits) {
        published += k->counts().published;
        dropped += k->counts().dropped;
    }
    kits.clear();   // each waits for the broker's acknowledgements and says "offline"
    std::printf("published %llu dropped %llu\n", static_cast<unsigned long long>(published),
                static_cast<unsigned long long>(dropped));
    return 0;
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool startBroker(QProcess& p, const QTemporaryDir& dir, const QString& name, int port, const QString& extra)
{
    const QString conf = dir.filePath(name + QStringLiteral(".conf"));
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\n"
                           "max_queued_messages 0\nuser %2\n%3")
                .arg(port).arg(QString::fromLocal8Bit(getpwuid(getuid())->pw_name), extra).toUtf8());
    f.close();
    p.start(QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {"/usr/sbin", "/usr/bin"}), {"-c", conf});
    QByteArray log;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        p.waitForReadyRead(100);
        log += p.readAllStandardError();
        if (log.contains(" running"))
            return true;
    }
    return false;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double rssMb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().split(' ').value(1).toDouble() * sysconf(_SC_PAGESIZE) / 1048576.0;
}

// Lets the event loop run for ms (without spinning: the CPU figure is the view's).
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Histogram {
    std::vector<quint64> counts = std::vector<quint64>(10001, 0);   // the last: 10 s and more
    quint64 total = 0;
    void add(qint64 ms) { ++counts[size_t(qBound(qint64(0), ms, qint64(10000)))], ++total; }
    void clear() { std::fill(counts.begin(), counts.end(), 0), total = 0; }
    double percentile(double p) const
    {
        quint64 seen = 0;
        for (size_t i = 0; i < counts.size(); ++i)
            if ((seen += counts[i]) > 0 && seen >= p * total)
                return double(i);
        return 0;
    }
};

int measure(const Options& o, const QStringList& passOn)
{
    QTemporaryDir dir;
    QProcess kitsBroker, viewBroker, generator;
    const int kitsPort = freePort(), viewPort = o.bridge ? freePort() : kitsPort;
    if (!startBroker(kitsBroker, dir, QStringLiteral("kits"), kitsPort, QString())
        || (o.bridge && !startBroker(viewBroker, dir, QStringLiteral("view"), viewPort,
                                     QStringLiteral("connection kits\naddress 127.0.0.1:%1\ntopic orvane/# in 1\n"
                                                    "cleansession true\n").arg(kitsPort)))) {
        std::fprintf(stderr, "orvane-siteload: cannot start mosquitto\n");
        return 2;
    }
    SiteWindow view;
    view.resize(1280, 800);
    view.show();
    // Histograms of 1 ms steps: the figures take no memory that grows with the run.
    Histogram latencies, arrivals;
    std::vector<qint64> pendingTimes;
    pendingTimes.reserve(100000);
    view.siteModel().onPosition = [&](const SiteModel::Kit&, const SiteModel::TagState& t) {
        pendingTimes.push_back(t.timeMs);
        arrivals.add(t.recvMs - t.timeMs);
    };
    double paintSum = 0, paintMax = 0;
    quint64 paints = 0;
    view.chart()->onPainted = [&](qint64 paintedMs) {
        paintSum += view.chart()->lastPaintMs(), paintMax = std::max(paintMax, view.chart()->lastPaintMs()), ++paints;
        for (qint64 t : pendingTimes)
            latencies.add(paintedMs - t);
        pendingTimes.clear();
    };
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = viewPort;
    view.start(s, QString());
    QElapsedTimer clock;
    clock.start();
    while (!view.subscriber().isConnected() && clock.elapsed() < 5000)
        runFor(20);
    runFor(1500);   // the subscriptions, and with a bridge its own
    generator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    generator.start(QCoreApplication::applicationFilePath(),
                    passOn + QStringList{QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(kitsPort)});
    // Warm-up (connections, first kits placed), then the measured span.
    runFor(5000);
    latencies.clear();
    arrivals.clear();
    paintSum = paintMax = 0, paints = 0;
    const double cpu0 = cpuSeconds();
    const qint64 t0 = clock.elapsed();
    std::vector<double> rss{rssMb()};
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { rss.push_back(rssMb()); });
    sample.start(10000);
    QEventLoop untilDone;
    QObject::connect(&generator, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &untilDone, &QEventLoop::quit);
    if (generator.state() != QProcess::NotRunning)
        untilDone.exec();
    sample.stop();
    rss.push_back(rssMb());
    const double cpu = (cpuSeconds() - cpu0) / ((clock.elapsed() - t0) / 1000.0);
    runFor(3000);   // what is still on its way
    const QByteArray summary = generator.readAllStandardOutput().trimmed();
    const quint64 published = summary.split(' ').value(1).toULongLong();
    const quint64 taken = view.positionsTaken();
    std::printf("%s%d kits x %d tags at %.0f Hz for %d s: generator %s; view received %llu messages, took %llu positions, "
                "dropped %llu; publish-to-receive p95 %.0f ms; publish-to-paint latency p50 %.0f ms, p95 %.0f ms, max %.0f ms (%zu positions); %.1f paints/s of %.1f ms (max %.0f); "
                "CPU %.1f %% of one core; resident memory %.1f MB after warm-up, %.1f MB at the end (max %.1f)\n",
                o.bridge ? "bridged: " : "", o.kits, o.tags, o.rate, o.durationS, summary.constData(),
                static_cast<unsigned long long>(view.subscriber().received()), static_cast<unsigned long long>(taken),
                static_cast<unsigned long long>(view.subscriber().dropped()), arrivals.percentile(0.95), latencies.percentile(0.5),
                latencies.percentile(0.95), latencies.percentile(1.0), size_t(latencies.total),
                paints / ((clock.elapsed() - t0) / 1000.0), paints ? paintSum / paints : 0.0, paintMax, 100.0 * cpu,
                rss.empty() ? 0.0 : rss.front(), rss.empty() ? 0.0 : rss.back(),
                rss.empty() ? 0.0 : *std::max_element(rss.begin(), rss.end()));
    kitsBroker.kill(), viewBroker.kill();
    kitsBroker.waitForFinished(), viewBroker.waitForFinished();
    return taken >= published && view.subscriber().dropped() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool measuring = false;
    for (int i = 1; i < argc; ++i)
        measuring = measuring || QByteArray(argv[i]) == "--measure";
    if (measuring)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app(measuring ? new QApplication(argc, argv) : new QCoreApplication(argc, argv));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption broker("broker", "The broker <host:port>.", "host:port"), kits("kits", "Kits.", "n", "3"),
        tags("tags", "Tags per kit.", "n", "4"), rate("rate", "Positions per second and tag.", "hz", "10"),
        duration("duration", "Seconds.", "s", "60"), offline("offline", "Kits that stop after a third of the run.", "n", "0"),
        ahead("clock-ahead-ms", "The first kit's clock runs this far ahead.", "ms", "0"),
        measureOption("measure", "Measure the site view against a broker of its own."),
        bridge("bridge", "With --measure: kits and view on two brokers joined by a bridge.");
    parser.addOptions({broker, kits, tags, rate, duration, offline, ahead, measureOption, bridge});
    parser.process(*app);
    Options o;
    o.broker = parser.value(broker);
    o.kits = qMax(1, parser.value(kits).toInt());
    o.tags = qBound(1, parser.value(tags).toInt(), 64);
    o.rate = qBound(0.1, parser.value(rate).toDouble(), 100.0);
    o.durationS = qMax(1, parser.value(duration).toInt());
    o.offline = qBound(0, parser.value(offline).toInt(), o.kits);
    o.aheadMs = parser.value(ahead).toInt();
    o.measure = parser.isSet(measureOption);
    o.bridge = parser.isSet(bridge);
    if (o.measure)
        return measure(o, {"--kits", QString::number(o.kits), "--tags", QString::number(o.tags), "--rate",
                           QString::number(o.rate), "--duration", QString::number(o.durationS)});
    if (o.broker.isEmpty()) {
        std::fprintf(stderr, "orvane-siteload: --broker HOST:PORT or --measure\n");
        return 2;
    }
    return generate(o);
}
