// Replay "so schnell wie möglich" of a ten-minute recording at the full link
// rate, on the offscreen platform: receive path, chart passes every 10 ms of
// recorded time and the position export, as the user gets them; and the same
// recording through the batch mode, with each smoothing.
#include "batchreplay.h"
#include "mainwin.h"
#include "recording.h"
#include "settingsfile.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

constexpr int Seconds = 600;
constexpr int LinesPerSecond = 2000;
constexpr int BatchMs = 10;                                  // what a 512000-baud port delivers per read
constexpr int LinesPerBatch = LinesPerSecond * BatchMs / 1000;

QList<Anchor> fourAnchors()
{
    return {Anchor("1A2B", "Master", QColor(255, 0, 0), 0, 0, 0, true, 0),
            Anchor("3C4D", "A1", QColor(0, 0, 255), 1000, 0, 0, false, 5),
            Anchor("5E6F", "A2", QColor(0, 170, 170), 1000, 800, 0, false, 0),
            Anchor("7A80", "A3", QColor(170, 0, 170), 0, 800, 0, false, -3)};
}

struct Synthetic {
    QString path;
    qint64 lines = 0;
    qint64 bytes = 0;
    int batches = 0;
};

// Four tags walking circles, 2000 'D' lines a second in 10-ms batches, and
// the master's identity line once a second.
Synthetic writeRecording(const QString& path)
{
    Synthetic s;
    s.path = path;
    const QList<Anchor> anchors = fourAnchors();
    RecordingWriter rec;
    if (!rec.open(path))
        return s;
    qint64 line = 0;
    for (int ms = 0; ms < Seconds * 1000; ms += BatchMs) {
        QByteArray batch;
        if (ms % 1000 == 0)
            batch += "$PX,1A2B,1.0\r\n";
        for (int i = 0; i < LinesPerBatch; ++i, ++line) {
            const int tag = int(line % 4);
            const double t = (ms + i * 0.5) / 1000.0;
            const double x = 500 + (100 + 60 * tag) * std::cos(t * (0.3 + 0.1 * tag));
            const double y = 400 + (80 + 50 * tag) * std::sin(t * (0.3 + 0.1 * tag));
            batch += "$PD,2B0" + QByteArray::number(tag + 1);
            for (const Anchor& a : anchors) {
                const int noise = int((line * 7 + a.x) % 9) - 4;
                batch += ',' + QByteArray::number(int(std::hypot(a.x - x, a.y - y)) + noise, 16).toUpper();
            }
            batch += "\r\n";
        }
        rec.append(quint32(ms), batch);
        s.bytes += batch.size();
        ++s.batches;
    }
    rec.close();
    s.lines = line;
    return s;
}

void BM_ReplayFastest(benchmark::State& state)
{
    QTemporaryDir dir;
    const Synthetic rec = writeRecording(dir.filePath("tenminutes.orec"));
    qint64 lines = 0;
    double seconds = 0;
    qint64 rows = 0;
    for (auto _ : state) {
        MainWin w;
        w.resize(1400, 1000);
        w.show();
        w.findChild<QWidget*>("chart")->setFixedSize(1000, 800);
        QCoreApplication::processEvents();
        w.modules.anchors = fourAnchors();
        for (int t = 1; t <= 4; ++t)
            w.modules.tags << Tag("2B0" + QString::number(t), "Tag" + QString::number(t), QColor(34, 153, 255),
                                  true, true, true, true, true, true, true);
        w.fillAnchorTable();
        w.fillTagTable();
        w.findChild<QComboBox*>("cmbReplaySpeed")->setCurrentIndex(4);
        QElapsedTimer t;
        t.start();
        if (!w.startReplay(rec.path, 0)) {
            state.SkipWithError("recording not readable");
            return;
        }
        while (w.isReplaying())
            QCoreApplication::processEvents();
        seconds += t.nsecsElapsed() / 1e9;
        lines += rec.lines;
        QFile csv(dir.filePath("tenminutes.replay-avg10.csv"));
        if (csv.open(QIODevice::ReadOnly))
            rows += csv.readAll().count('\n') - 1;
    }
    state.counters["recorded_s"] = Seconds;
    state.counters["replay_s"] = seconds / double(state.iterations());
    state.counters["lines/s"] = double(lines) / seconds;
    state.counters["MB"] = double(rec.bytes) / 1e6;
    state.counters["batches"] = rec.batches;
    state.counters["csv_rows"] = double(rows) / double(state.iterations());
}
BENCHMARK(BM_ReplayFastest)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// Argument 0: the plain average, 1: the Kalman filter.
void BM_BatchReplay(benchmark::State& state)
{
    QTemporaryDir dir;
    const Synthetic rec = writeRecording(dir.filePath("tenminutes.orec"));
    SettingsData settings;
    settings.anchors = fourAnchors();
    for (int t = 1; t <= 4; ++t)
        settings.tags << Tag("2B0" + QString::number(t), "Tag" + QString::number(t), QColor(34, 153, 255),
                             true, true, true, true, true, true, true);
    settings.average = "10";
    if (!writeSettingsFile(dir.filePath("room.cfg"), settings)) {
        state.SkipWithError("settings not written");
        return;
    }
    const BatchReplayOptions options{rec.path, dir.filePath("room.cfg"), dir.filePath("out.csv"),
                                     state.range(0) ? "kalman" : "average", 0, {}, 0};
    quint64 rows = 0;
    for (auto _ : state) {
        BatchReplay batch;
        QString error;
        if (!batch.run(options, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        rows = batch.rows();
    }
    state.counters["recorded_s"] = Seconds;
    state.counters["lines"] = double(rec.lines);
    state.counters["csv_rows"] = double(rows);
}
BENCHMARK(BM_BatchReplay)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
