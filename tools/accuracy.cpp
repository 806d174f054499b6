// orvane-accuracy: how close the chart's tag positions come to the truth. The
// main window ranges against the stand-in for the master (in this process, so
// that the stand-in's clock gives the true positions) in its built-in room;
// right after every chart pass the raw and averaged positions of both tags are
// compared with where the scenario puts them at the time of their update, for
// each averaging depth in turn. One line per depth and tag goes to stdout.
#include "mainwin.h"
#include "masterstandin.h"
#include "scenario.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateTime>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString summary(QVector<double> e)
{
    if (e.isEmpty())
        return QStringLiteral("-");
    double sq = 0;
    for (double v : e)
        sq += v * v;
    std::sort(e.begin(), e.end());
    return QStringLiteral("rms %1 median %2 p95 %3 cm (n %4)")
        .arg(std::sqrt(sq / e.size()), 0, 'f', 1)
        .arg(e.at(e.size() / 2), 0, 'f', 1)
        .arg(e.at(qMin(e.size() - 1, int(0.95 * e.size()))), 0, 'f', 1)
        .arg(e.size());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-accuracy"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Ranges against the stand-in's built-in room (noise 5 cm, 1 % dropped distances, 0.2 % outliers,\n"
        "10 Hz per tag) and compares the raw and averaged positions after every chart pass with the truth,\n"
        "for the averaging depths 1, 10 and 100."));
    parser.addHelpOption();
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("Time per depth (default 25)."),
                                        QStringLiteral("n"), QStringLiteral("25"));
    parser.addOption(secondsOpt);
    parser.process(app);
    bool ok = false;
    const int seconds = parser.value(secondsOpt).toInt(&ok);
    if (!ok || seconds < 1) {
        std::fprintf(stderr, "orvane-accuracy: --seconds needs a whole number of at least 1\n");
        return 2;
    }

    const Scenario sc = Scenario::builtIn();
    MasterStandIn master(sc);
    master.setLinkPath(QString());
    QString error;
    if (!master.start(&error)) {
        std::fprintf(stderr, "orvane-accuracy: stand-in: %s\n", qPrintable(error));
        return 2;
    }
    MainWin w;
    w.show();
    // The stand-in's room as records: master first, then the further anchors;
    // both configured tags with raw and averaged positions shown.
    const QList<QColor> colours = {Qt::red, Qt::blue, Qt::darkCyan, Qt::darkMagenta};
    for (int i = 0; i < sc.anchors.size(); ++i) {
        const QPointF p = sc.anchors.at(i).path.first();
        w.modules.anchors << Anchor(sc.anchors.at(i).id, sc.anchors.at(i).id, colours.value(i, Qt::black), int(p.x()),
                                    int(p.y()), 0, i == 0, 0);
    }
    for (const QString& id : sc.initialConfiguration().tags)
        w.modules.tags << Tag(id, id, Qt::darkGreen, true, true, false, false, false, false, false);
    w.fillAnchorTable();
    w.fillTagTable();
    w.findChild<QComboBox*>(QStringLiteral("cmbComPort"))->setEditText(master.slavePath());
    w.connectPort();
    runFor(200);
    w.findChild<QPushButton*>(QStringLiteral("btnStartRanging"))->click();
    if (!w.rangingActive) {
        std::fprintf(stderr, "orvane-accuracy: could not connect to the stand-in and start ranging\n");
        return 2;
    }

    const qint64 epochOffset = QDateTime::currentMSecsSinceEpoch() - master.elapsedMs();
    QMap<QString, QVector<double>> raw, avg;
    bool sampling = false;
    // Runs right after the window's own chart pass on the same timeout.
    QObject::connect(w.redrawTimer, &QTimer::timeout, [&] {
        for (const Tag& t : qAsConst(w.modules.tags)) {
            QPointF truth;
            if (!sampling || t.rawX == Tag::NoPosition || t.avgX == Tag::NoPosition
                || !sc.positionAt(t.id, t.lastUpdateMs - epochOffset, &truth))
                continue;
            raw[t.id] << std::hypot(t.rawX - truth.x(), t.rawY - truth.y());
            avg[t.id] << std::hypot(t.avgX - truth.x(), t.avgY - truth.y());
        }
    });
    for (int depth : {1, 10, 100}) {
        w.findChild<QComboBox*>(QStringLiteral("cmbLastMeasures"))->setCurrentText(QString::number(depth));
        runFor(3500);   // the history refills past the old depth
        raw.clear();
        avg.clear();
        sampling = true;
        runFor(seconds * 1000);
        sampling = false;
        for (const QString& id : avg.keys())
            std::printf("depth %3d  %s  raw: %s  averaged: %s\n", depth, qPrintable(id), qPrintable(summary(raw.value(id))),
                        qPrintable(summary(avg.value(id))));
        std::fflush(stdout);
    }
    w.disconnectPort();
    return 0;
}
