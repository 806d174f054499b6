// orvane-sim: plays the master module of the positioning kit on a pseudo
// terminal, so that the program can connect to it like to the real kit.
#include "buildversion.h"
#include "masterstandin.h"
#include "scenario.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    const ssize_t ignored = ::write(signalPipe[1], &c, 1);
    (void)ignored;
}

bool readDouble(const QCommandLineParser& p, const QString& name, double* value, QString* error)
{
    if (!p.isSet(name))
        return true;
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    if (!ok) {
        *error = QStringLiteral("--%1: not a number: %2").arg(name, p.value(name));
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Messages and file names as UTF-8 whatever the locale, as under Qt 6.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-sim"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildVersion::full()));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in for the master module of the Orvane UWB kit: opens a pseudo terminal,\n"
        "publishes it as a symbolic link, prints the link's path and answers on it like\n"
        "the master firmware (512000 baud pacing)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
        QStringLiteral("Publish the terminal as symbolic link <path> (default /tmp/orvane-master)."),
        QStringLiteral("path"), QStringLiteral("/tmp/orvane-master"));
    const QCommandLineOption noLinkOpt(QStringLiteral("no-link"),
        QStringLiteral("Publish no link; print the terminal's own path."));
    const QCommandLineOption scenarioOpt(QStringLiteral("scenario"),
        QStringLiteral("Load the scenario from JSON <file> instead of the built-in room."), QStringLiteral("file"));
    const QCommandLineOption truthOpt(QStringLiteral("truth"),
        QStringLiteral("Write the true tag positions as CSV to <file>, one row per ranging line."), QStringLiteral("file"));
    const QCommandLineOption recordOpt(QStringLiteral("record"),
        QStringLiteral("Write a recording of every byte sent, in the program's recording format, to <file>."),
        QStringLiteral("file"));
    const QCommandLineOption rateOpt(QStringLiteral("rate"),
        QStringLiteral("Ranging lines per second and tag (default 10)."), QStringLiteral("hz"));
    const QCommandLineOption noiseOpt(QStringLiteral("noise"),
        QStringLiteral("Standard deviation of the distance noise in cm (default 5)."), QStringLiteral("cm"));
    const QCommandLineOption dropoutOpt(QStringLiteral("dropout"),
        QStringLiteral("Probability that a distance is missing (default 0.01)."), QStringLiteral("p"));
    const QCommandLineOption outliersOpt(QStringLiteral("outliers"),
        QStringLiteral("Probability that a distance is an outlier (default 0.002)."), QStringLiteral("p"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
        QStringLiteral("Seed of the random numbers (default 1)."), QStringLiteral("n"));
    const QCommandLineOption fullRateOpt(QStringLiteral("full-rate"),
        QStringLiteral("Send ranging lines as fast as the link carries them."));
    const QCommandLineOption malformedOpt(QStringLiteral("malformed"),
        QStringLiteral("Mix in one malformed line after every <n> lines."), QStringLiteral("n"));
    const QCommandLineOption statsOpt(QStringLiteral("stats"),
        QStringLiteral("On exit, write the counters as \"key=value\" lines to <file>."), QStringLiteral("file"));
    const QCommandLineOption offlineOpt(QStringLiteral("offline"),
        QStringLiteral("Without a terminal: range for <seconds> of simulated time, as fast as the machine\n"
                       "goes, write --truth and --record, and exit."), QStringLiteral("seconds"));
    parser.addOptions({linkOpt, noLinkOpt, scenarioOpt, truthOpt, recordOpt, rateOpt, noiseOpt, dropoutOpt, outliersOpt,
                       seedOpt, fullRateOpt, malformedOpt, statsOpt, offlineOpt});
    parser.process(app);

    QTextStream err(stderr);
    Scenario scenario = Scenario::builtIn();
    QString error;
    if (parser.isSet(scenarioOpt) && !scenario.loadFile(parser.value(scenarioOpt), &error)) {
        err << "orvane-sim: " << error << '\n';
        return 2;
    }
    if (!readDouble(parser, QStringLiteral("rate"), &scenario.rateHz, &error)
        || !readDouble(parser, QStringLiteral("noise"), &scenario.noiseSigma, &error)
        || !readDouble(parser, QStringLiteral("dropout"), &scenario.dropout, &error)
        || !readDouble(parser, QStringLiteral("outliers"), &scenario.outliers, &error)) {
        err << "orvane-sim: " << error << '\n';
        return 2;
    }
    if (parser.isSet(seedOpt)) {
        bool ok = false;
        scenario.seed = parser.value(seedOpt).toUInt(&ok);
        if (!ok) {
            err << "orvane-sim: --seed: not a whole number from 0 to 4294967295\n";
            return 2;
        }
    }
    int malformed = 0;
    if (parser.isSet(malformedOpt)) {
        bool ok = false;
        malformed = parser.value(malformedOpt).toInt(&ok);
        if (!ok || malformed < 1) {
            err << "orvane-sim: --malformed: needs a whole number of at least 1\n";
            return 2;
        }
    }
    error = scenario.check();
    if (!error.isEmpty()) {
        err << "orvane-sim: " << error << '\n';
        return 2;
    }

    MasterStandIn master(scenario);
    master.setLinkPath(parser.isSet(noLinkOpt) ? QString() : parser.value(linkOpt));
    master.setFullRate(parser.isSet(fullRateOpt));
    master.setMalformedEvery(malformed);
    if (parser.isSet(truthOpt) && !master.setTruthFile(parser.value(truthOpt), &error)) {
        err << "orvane-sim: " << error << '\n';
        return 1;
    }
    if (parser.isSet(recordOpt) && !master.setRecordFile(parser.value(recordOpt), &error)) {
        err << "orvane-sim: " << error << '\n';
        return 1;
    }

    if (parser.isSet(offlineOpt)) {
        bool ok = false;
        const double seconds = parser.value(offlineOpt).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 86400) {
            err << "orvane-sim: --offline: needs a number of seconds above 0, at most 86400\n";
            return 2;
        }
        master.runOffline(qint64(seconds * 1000));
        err << QStringLiteral("orvane-sim: offline, %1 s simulated: %2 bytes; lines D %3\n")
                   .arg(seconds).arg(master.bytesSent()).arg(master.linesSent('D'));
        return 0;
    }

    // Signals arrive through a pipe so that the link is removed on the way out.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        err << "orvane-sim: socketpair failed\n";
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char c;
        const ssize_t ignored = ::read(signalPipe[0], &c, 1);
        (void)ignored;
        QCoreApplication::quit();
    });
    struct sigaction sa;
    ::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);

    if (!master.start(&error)) {
        err << "orvane-sim: " << error << '\n';
        return 1;
    }
    const QString shown = master.linkPath().isEmpty() ? master.slavePath() : master.linkPath();
    std::fprintf(stdout, "%s\n", QFile::encodeName(shown).constData());
    std::fflush(stdout);
    err << "orvane-sim: master " << scenario.masterId() << " on " << master.slavePath()
        << (scenario.name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(scenario.name)) << '\n';
    err.flush();

    const int rc = app.exec();
    const qint64 ms = qMax<qint64>(1, master.elapsedMs());
    err << QStringLiteral("orvane-sim: %1 bytes in %2 s (%3 bytes/s); lines D %4, K %5, W %6, X %7, R %8, "
                          "echo %9, malformed %10; dropped %11\n")
               .arg(master.bytesSent()).arg(ms / 1000.0, 0, 'f', 1)
               .arg(qint64(master.bytesSent() * 1000 / ms))
               .arg(master.linesSent('D')).arg(master.linesSent('K')).arg(master.linesSent('W'))
               .arg(master.linesSent('X')).arg(master.linesSent('R')).arg(master.linesSent('E'))
               .arg(master.linesSent('!')).arg(master.linesDropped());
    if (parser.isSet(statsOpt)) {
        // For scripts and the soak: the same counters, one per line, easy to read back.
        QFile file(parser.value(statsOpt));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            QTextStream out(&file);
            out << "ms=" << ms << "\nbytes=" << master.bytesSent() << '\n';
            for (char kind : {'D', 'K', 'W', 'X', 'R', 'E'})
                out << kind << '=' << master.linesSent(kind) << '\n';
            out << "malformed=" << master.linesSent('!') << "\nmalformed_D=" << master.malformedSent('D')
                << "\ndropped=" << master.linesDropped() << '\n';
        } else {
            err << "orvane-sim: " << parser.value(statsOpt) << ": " << file.errorString() << '\n';
        }
    }
    master.stop();
    return rc;
}
