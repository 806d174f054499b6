#include "anchormoves.h"
#include "anchorsurvey.h"
#include "anchorsurveydialog.h"
#include "anchorsurveyflow.h"
#include "framing.h"
#include "recording.h"
#include "settingsfile.h"
#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>

// The anchor survey: the solver on walks with known truth, the batch lines.
class TestSurvey : public QObject
{
    Q_OBJECT
private slots:
    void solver_data();
    void solver();
    void batch_data();
    void batch();
#ifdef ORVANE_HAVE_SIM
    void dialogAgainstStandIn();
#endif
};

namespace {

// A room of 700 x 500 cm, anchors in the corners at 220 cm, the master first.
const QVector<QPointF> room = {{-350, 250}, {350, 240}, {340, -250}, {-345, -245}};

QPointF along(const QVector<QPointF>& path, double s)
{
    double total = 0;
    for (int i = 0; i + 1 < path.size(); ++i)
        total += QLineF(path[i], path[i + 1]).length();
    s = std::fmod(s, total);
    for (int i = 0; i + 1 < path.size(); ++i) {
        const double l = QLineF(path[i], path[i + 1]).length();
        if (s <= l)
            return path[i] + (path[i + 1] - path[i]) * (s / l);
        s -= l;
    }
    return path.last();
}

// A tag at 100 cm walked at 40 cm/s, one sample per 0.2 s.
QVector<SurveySample> walkSamples(const QVector<QPointF>& path, int count, double noise, double bias, double outliers)
{
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    QVector<SurveySample> out;
    for (int i = 0; i < count; ++i) {
        SurveySample s;
        s.ms = i * 200;
        const QPointF p = along(path, 8.0 * i);
        for (const QPointF& a : room) {
            double r = std::sqrt(std::pow(p.x() - a.x(), 2) + std::pow(p.y() - a.y(), 2) + 120.0 * 120.0) + bias;
            r += noise * gauss(random) + (unit(random) < outliers ? 100 + 300 * unit(random) : 0.0);
            s.ranges.append(r);
        }
        out.append(s);
    }
    return out;
}

} // namespace

void TestSurvey::solver_data()
{
    QTest::addColumn<bool>("straight");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("noise");      // cm, with 1 % outliers when set
    QTest::addColumn<double>("bias");       // cm, common to all ranges
    QTest::addColumn<bool>("known");        // master to next anchor known
    QTest::addColumn<QString>("start");     // the table: shaken, mirror, folded, zero
    QTest::addColumn<int>("status");
    QTest::addColumn<double>("tolerance");  // cm, per anchor against the truth

    const int solved = AnchorSurveyResult::Solved;
    QTest::newRow("square room, exact ranges") << false << 600 << 0.0 << 0.0 << false << "shaken" << solved << 0.1;
    QTest::newRow("noise and bias, known distance") << false << 600 << 5.0 << 22.0 << true << "shaken" << solved << 5.0;
    QTest::newRow("bias without a known distance is scale") << false << 600 << 0.0 << 22.0 << false << "shaken" << solved << -10.0;
    QTest::newRow("straight walk") << true << 600 << 3.0 << 0.0 << false << "shaken" << int(AnchorSurveyResult::Degenerate) << 0.0;
    QTest::newRow("too few samples") << false << 30 << 0.0 << 0.0 << false << "shaken" << int(AnchorSurveyResult::TooFewSamples) << 0.0;
    QTest::newRow("mirror-image table stays mirrored") << false << 600 << 0.0 << 0.0 << false << "mirror" << solved << 0.1;
    QTest::newRow("one anchor folded across") << false << 600 << 0.0 << 0.0 << false << "folded" << solved << 0.1;
    QTest::newRow("all anchors at 0/0") << false << 600 << 2.0 << 15.0 << true << "zero" << solved << 3.0;
}

void TestSurvey::solver()
{
    QFETCH(bool, straight);
    QFETCH(int, count);
    QFETCH(double, noise);
    QFETCH(double, bias);
    QFETCH(bool, known);
    QFETCH(QString, start);
    QFETCH(int, status);
    QFETCH(double, tolerance);

    // Along the walls and through the middle, or to and fro on one line.
    const QVector<QPointF> path = straight
        ? QVector<QPointF>{{-250, -100}, {250, 100}, {-250, -100}}
        : QVector<QPointF>{{-270, 170}, {270, 170}, {270, -170}, {-270, -170}, {-270, 170}, {0, 0}, {270, -170},
                           {270, 170}, {-270, -170}, {-270, 170}};
    AnchorSurveyInput in;
    in.samples = walkSamples(path, count, noise, bias, noise > 0 ? 0.01 : 0.0);
    in.tagHeight = 100;
    QVector<QPointF> truth = room;
    for (int a = 0; a < room.size(); ++a) {
        SurveyAnchor anchor;
        anchor.z = 220;
        anchor.master = a == 0;
        // The master where it is, the others up to about 80 cm off.
        const QPointF shaken = room[a] + (a == 0 ? QPointF() : QPointF(a % 2 ? 60 : -45, a == 2 ? -50 : 40));
        anchor.table = start == "shaken" ? shaken
            : start == "mirror" ? QPointF(room[a].x(), -room[a].y())
            : start == "folded" && a == 2 ? QPointF(-340, 250)    // on the master's side of the diagonal
            : start == "folded" ? room[a] : QPointF();
        in.anchors.append(anchor);
    }
    if (start == "mirror")
        for (QPointF& p : truth)
            p.setY(-p.y());
    if (start == "zero") {
        // The master at 0/0, the next anchor on +X, the one after on the +Y side.
        const QPointF x = room[1] - room[0];
        const double angle = -std::atan2(x.y(), x.x());
        for (QPointF& p : truth) {
            const QPointF d = p - room[0];
            p = QPointF(d.x() * std::cos(angle) - d.y() * std::sin(angle), -(d.x() * std::sin(angle) + d.y() * std::cos(angle)));
        }
    }
    if (known)
        in.known = SurveyKnownDistance{0, 1, QLineF(room[0], room[1]).length()};

    const AnchorSurveyResult r = surveyAnchors(in);
    QCOMPARE(int(r.status), status);
    if (status != AnchorSurveyResult::Solved) {
        QVERIFY(!r.reason.isEmpty());
        return;
    }
    QVERIFY(r.goesAround);
    QCOMPARE(r.biasSolved, known);
    // In the table's frame: the result's best fit onto the truth moves it
    // little (no mirror image, rotation or shift beyond what the table's
    // shake allows), and after that fit each anchor is within the tolerance.
    const QVector<QPointF> fitted = fitRigid(r.anchors, truth, r.anchors);
    for (int a = 0; a < room.size(); ++a) {
        const double moved = QLineF(r.anchors[a], fitted[a]).length();
        if (start != "folded")
            QVERIFY2(moved < (start == "shaken" ? 40 : 1), qPrintable(QString("anchor %1 moved %2 cm by the fit").arg(a).arg(moved)));
        const double off = QLineF(fitted[a], truth[a]).length();
        if (tolerance > 0)
            QVERIFY2(off <= tolerance, qPrintable(QString("anchor %1 off by %2 cm").arg(a).arg(off)));
        QVERIFY(r.uncertainty[a] >= 0 && (tolerance < 0 || r.uncertainty[a] < qMax(1.0, 2 * noise)));
    }
    if (tolerance < 0) {
        // A common bias taken for range: the room comes out larger.
        const double wide = QLineF(r.anchors[0], r.anchors[2]).length() - QLineF(room[0], room[2]).length();
        QVERIFY2(wide > -tolerance, qPrintable(QString("diagonal only %1 cm longer").arg(wide)));
    }
    if (start == "zero")
        QVERIFY(qAbs(r.anchors[0].x()) < 0.01 && qAbs(r.anchors[0].y()) < 0.01 && qAbs(r.anchors[1].y()) < 0.01
                && r.anchors[1].x() > 0 && r.anchors[2].y() > 0);
    if (known)
        QVERIFY2(qAbs(r.bias - bias) < 2.0, qPrintable(QString("bias %1").arg(r.bias)));
    if (tolerance > 0)
        QVERIFY2(r.residualRms < (noise > 0 ? 1.5 * noise : 0.05), qPrintable(QString("residual %1").arg(r.residualRms)));
    QCOMPARE(r.walk.size(), r.samples);
}

void TestSurvey::batch_data()
{
    QTest::addColumn<QString>("set");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<double>("within");   // cm of the tape-measured anchors
    QTest::newRow("walk, known distance") << "dynamic-mid" << QStringList{"--known-distance", "0a01,0A02=703"} << 0 << 10.0;
    // Offsets 0 taken as calibrated while the real ranges are some 15 cm long: the room comes out larger.
    QTest::newRow("walk, one tag, offsets") << "dynamic-mid" << QStringList{"--tag", "2E01"} << 0 << 25.0;
    QTest::newRow("tags standing still") << "static-pose5-heading0" << QStringList() << 2 << 0.0;
    QTest::newRow("tag not in the recording") << "dynamic-mid" << QStringList{"--tag", "2E07"} << 2 << 0.0;
    QTest::newRow("unknown anchor") << "dynamic-mid" << QStringList{"--known-distance", "0A01,0A09=703"} << 2 << 0.0;
    QTest::newRow("same anchor twice") << "dynamic-mid" << QStringList{"--known-distance", "0A01,0a01=703"} << 2 << 0.0;
}

// The batch lines: one per anchor and one with residual and bias; the
// settings written again with only X/Y changed; a walk that cannot be
// surveyed says why in one line, exits with 2 and writes nothing.
void TestSurvey::batch()
{
    QFETCH(QString, set);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(double, within);
    const QString data = qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/data/realdata/" + set;
    QTemporaryDir dir;
    const QString out = dir.filePath("surveyed.cfg");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("ORVANE_BINARY_DIR") + "/orvane",
            QStringList{"--replay", data + "/rec.orec", "--settings", data + "/room.cfg", "--survey-anchors",
                        "--write-settings", out} + extra);
    QVERIFY(p.waitForFinished(60000));
    const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
    const QString stdErr = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitCode() == exitCode, qPrintable(stdErr));
    if (exitCode != 0) {
        QVERIFY2(stdErr.count('\n') == 1 && stdErr.startsWith("orvane: ") && stdOut.isEmpty(), qPrintable(stdErr));
        QVERIFY(!QFile::exists(out));
        return;
    }
    const QStringList lines = stdOut.trimmed().split('\n');
    QCOMPARE(lines.size(), 5);
    QSettings before(data + "/room.cfg", QSettings::IniFormat), after(out, QSettings::IniFormat);
    QCOMPARE(after.allKeys(), before.allKeys());
    const QList<QByteArray> written = readFileBytes(out).split('\n'), original = readFileBytes(data + "/room.cfg").split('\n');
    QCOMPARE(written.size(), original.size());
    for (int i = 0; i < written.size(); ++i)
        QVERIFY2(written[i] == original[i] || QRegularExpression("^Anchor\\d-[XY]=").match(QString(original[i])).hasMatch(),
                 written[i].constData());
    QVector<QPointF> tape, got;
    const QRegularExpression anchorLine("^(\\S+)\\s+X\\s+(-?\\d+\\.\\d) cm\\s+Y\\s+(-?\\d+\\.\\d) cm\\s+± (\\d+\\.\\d) cm$");
    for (int a = 0; a < 4; ++a) {
        const QRegularExpressionMatch m = anchorLine.match(lines[a]);
        QVERIFY2(m.hasMatch(), qPrintable(lines[a]));
        const QString key = QString("Anchor%1-").arg(a);
        QCOMPARE(m.captured(1), before.value(key + "ID").toString());
        QCOMPARE(after.value(key + "X").toInt(), qRound(m.captured(2).toDouble()));
        QCOMPARE(after.value(key + "Y").toInt(), qRound(m.captured(3).toDouble()));
        tape.append(QPointF(before.value(key + "X").toInt(), before.value(key + "Y").toInt()));
        got.append(QPointF(m.captured(2).toDouble(), m.captured(3).toDouble()));
    }
    // The frame kept: the tape-measured anchors in the file, so the result lies on them.
    for (int a = 0; a < 4; ++a)
        QVERIFY2(QLineF(got[a], tape[a]).length() < within, qPrintable(lines[a]));
    QVERIFY2(lines[4].startsWith("residual RMS ")
                 && lines[4].contains(extra.contains("--known-distance") ? "common range bias " : "offsets taken as calibrated"),
             qPrintable(lines[4]));
}

#ifdef ORVANE_HAVE_SIM

#include "masterstandin.h"
#include "scenario.h"

// "Anker vermessen" on the stand-in's walk through its room, starting from
// anchors up to 1 m off: the proposal brings them back, the table changes
// only on "Übernehmen", Ctrl+Z's record puts them back, the bias button
// moves every offset.
void TestSurvey::dialogAgainstStandIn()
{
    const QString source = qEnvironmentVariable("ORVANE_SOURCE_DIR");
    Scenario scenario;
    QVERIFY(scenario.loadFile(source + "/sim/survey/walk.json"));
    QTemporaryDir dir;
    {
        MasterStandIn master(scenario);
        QVERIFY(master.setRecordFile(dir.filePath("walk.orec")));
        master.runOffline(110000);
    }
    SettingsData cfg;
    QVERIFY(readSettingsFile(source + "/sim/survey/rough.cfg", cfg));
    ModuleSetup modules;
    modules.anchors = cfg.anchors;
    modules.tags = cfg.tags;
    const QList<Anchor> rough = modules.anchors;
    QWidget window;
    AnchorSurveyFlow flow({&modules, &window, [] { return std::optional<int>(120); }}, nullptr);
    QList<QPair<QString, QPoint>> replaced;
    QList<QPair<QString, int>> offsetsBefore;
    connect(&flow, &AnchorSurveyFlow::positionsApplied, this, [&](const QList<QPair<QString, QPoint>>& b) { replaced = b; });
    connect(&flow, &AnchorSurveyFlow::offsetsApplied, this, [&](const QList<QPair<QString, int>>& b) { offsetsBefore = b; });
    flow.open();
    AnchorSurveyDialog* dlg = flow.dialog();
    QVERIFY(dlg && dlg->isVisible());
    auto button = [&](const char* name) { return dlg->findChild<QPushButton*>(name); };
    // The scale by the master and the next anchor, 10 m apart.
    QCOMPARE(dlg->knownFirst(), 0);
    QCOMPARE(dlg->knownSecond(), 1);
    button("btnStart")->click();
    QVERIFY(!flow.collecting());   // no distance typed yet
    QVERIFY(!dlg->findChild<QLabel*>("lblWarning")->text().isEmpty());
    dlg->findChild<QLineEdit*>("edtDistance")->setText("1000");
    button("btnStart")->click();
    QVERIFY(flow.collecting() && button("btnStop")->isEnabled() && !button("btnStart")->isEnabled());

    RecordingReader reader;
    QVERIFY(reader.open(dir.filePath("walk.orec")));
    quint32 ms = 0;
    QByteArray batch, pending;
    const QTime start(10, 0);
    while (reader.next(ms, batch))
        Framing::forEachLine(Framing::takeCompleteLines(pending, batch), [&](const QByteArray& line) {
            if (Framing::isPacketLine(line) && line.at(2) == 'D')
                flow.rangingLine(line, start.addMSecs(int(ms)));
        });
    QTest::qWait(600);   // a tick of the progress
    QVERIFY2(dlg->findChild<QLabel*>("lblProgress")->text().contains("Messpunkte"),
             qPrintable(dlg->findChild<QLabel*>("lblProgress")->text()));
    button("btnStop")->click();
    QVERIFY(!flow.collecting());
    const AnchorSurveyResult& r = flow.result();
    QCOMPARE(int(r.status), int(AnchorSurveyResult::Solved));
    QVERIFY2(r.samples > 400, qPrintable(QString::number(r.samples)));
    QVector<QPointF> truth;
    for (const Scenario::Module& a : scenario.anchors)
        truth.append(Scenario::pathPosition(a, 0));
    const QVector<QPointF> fitted = fitRigid(r.anchors, truth, r.anchors);
    for (int a = 0; a < truth.size(); ++a)
        QVERIFY2(QLineF(fitted[a], truth[a]).length() < 5, qPrintable(QString("anchor %1").arg(a)));
    const auto* table = dlg->findChild<QTableWidget*>("tblResult");
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(table->item(1, 3)->text().toInt(), qRound(r.anchors[1].x()));
    QCOMPARE(table->item(1, 1)->text(), QString::number(rough[1].x));
    QVERIFY2(dlg->findChild<QLabel*>("lblWarning")->text().isEmpty(), qPrintable(dlg->findChild<QLabel*>("lblWarning")->text()));
    if (qEnvironmentVariableIsSet("ORVANE_SURVEY_SCREENSHOT")) {
        dlg->resize(900, 720);
        QVERIFY(dlg->grab().save(qEnvironmentVariable("ORVANE_SURVEY_SCREENSHOT")));
    }
    // Nothing changed yet; then the proposal, then back as it was.
    for (int a = 0; a < 4; ++a)
        QVERIFY(modules.anchors[a].x == rough[a].x && modules.anchors[a].y == rough[a].y);
    button("btnApply")->click();
    QCOMPARE(replaced.size(), 4);
    QCOMPARE(modules.anchors[2].x, qRound(r.anchors[2].x()));
    QVERIFY(!button("btnApply")->isEnabled());
    AnchorMoves moves;
    moves.recordMove(rough[0].id, QPoint(1, 2));
    moves.recordPositions(replaced);
    QCOMPARE(moves.undo(modules.anchors), QString("1A2B, 3C4D, 5E6F, 7A80"));
    for (int a = 0; a < 4; ++a)
        QVERIFY(modules.anchors[a].x == rough[a].x && modules.anchors[a].y == rough[a].y);
    // The stand-in's ranges are 15 cm long: found, and taken off every offset.
    QVERIFY2(qAbs(r.bias - 15) < 2, qPrintable(QString::number(r.bias)));
    QVERIFY(button("btnApplyBias")->isEnabled());
    button("btnApplyBias")->click();
    QCOMPARE(offsetsBefore.size(), 4);
    QCOMPARE(modules.anchors[3].offset, rough[3].offset - int(std::lround(r.bias)));
}

#endif

QTEST_MAIN(TestSurvey)
#include "tst_survey.moc"
