#include "commandwin.h"
#include "configcommand.h"
#include "discoverwin.h"
#include "masterinfo.h"
#include "modulesetup.h"
#include "qflatcombobox.h"
#include "rolecells.h"
#include "tablecells.h"
#include "testsupport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>

// Stands in for the main window: records each command a dialog asks for and
// answers it at once, inside the emit, as the real exchange does.
class Harness : public QObject
{
    Q_OBJECT
public:
    QList<QByteArray> commands;
    QList<bool> looseFlags;
    QList<bool> answers;            // consumed in order; true when empty
    // Runs while the command is "in flight", before the result is emitted.
    std::function<void(const QByteArray&)> beforeAnswer;

    template <class Dialog>
    void attach(Dialog* dialog)
    {
        connect(dialog, &Dialog::executeCommand, this, &Harness::executeCommand);
        connect(this, &Harness::commandResult, dialog, &Dialog::commandResult);
    }

signals:
    void commandResult(bool ok);

public slots:
    void executeCommand(QByteArray command, bool loose)
    {
        commands.append(command);
        looseFlags.append(loose);
        if (beforeAnswer)
            beforeAnswer(command);
        const bool ok = answers.isEmpty() ? true : answers.takeFirst();
        emit commandResult(ok && !command.isEmpty());   // the main window refuses an empty command
    }
};

namespace {

enum { ColId = 0, ColRole = 1, ColName = 2, ColX = 3, ColY = 4, ColZ = 5, ColColor = 6, ColOffset = 14 };

QString text(QTableWidget* t, int row, int column)
{
    QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
}

void setText(QTableWidget* t, int row, int column, const QString& value)
{
    t->item(row, column)->setText(value);
}

void setRole(QTableWidget* t, int row, int role)
{
    QWidget* cell = t->cellWidget(row, ColRole);
    QComboBox* combo = cell ? cell->findChild<QComboBox*>() : nullptr;
    QVERIFY(combo && combo->findData(role) >= 0);
    combo->setCurrentIndex(combo->findData(role));
}

QStringList idColumn(QTableWidget* t)
{
    QStringList ids;
    for (int r = 0; r < t->rowCount(); ++r)
        ids << text(t, r, ColId);
    return ids;
}

// The id cells' backgrounds as letters: G green (heard), R red (not heard).
QString lights(QTableWidget* t)
{
    QString out;
    for (int r = 0; r < t->rowCount(); ++r) {
        const QColor c = t->item(r, ColId)->data(Qt::BackgroundRole).value<QColor>();
        out += c == QColor(Qt::green) ? 'G' : c == QColor(Qt::red) ? 'R' : '?';
    }
    return out;
}

QString hex(int colourIndex) { return colorList.at(colourIndex).name(QColor::HexArgb); }

// Master 1A2B, a further anchor 5E6F, one tag 7A8B.
ModuleSetup sampleSetup()
{
    ModuleSetup setup;
    setup.anchors << Anchor("1A2B", "Master", colorList.at(1), 100, 200, 30, true, 7)
                  << Anchor("5E6F", "Ost", colorList.at(3), 500, 0, 0, false, -4);
    setup.tags << Tag("7A8B", "Wagen", colorList.at(7), true, false, true, false, true, false, true);
    return setup;
}

// A dialog on the given records, its commands answered by a harness.
struct Discovery {
    DiscoverWin dialog{nullptr};
    Harness harness;
    explicit Discovery(ModuleSetup* setup)
    {
        harness.attach(&dialog);
        dialog.setModules(setup);
    }
    QTableWidget* table() { return dialog.table(); }
    void click(const char* name) { findButton(&dialog, name)->click(); }
    bool enabled(const char* name) { return findButton(&dialog, name)->isEnabled(); }
};

const QString NoMaster = "Sie müssen genau einen Master definieren!\n";

} // namespace

// End-to-end behaviour of the dialogs runs over a pty in tst_dialogroad; here
// the edge cases and the order of the messages.
class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void configCommand();
    void discoveryPackets();
    void configurationCheck();
    void upload();
    void closeWhileDiscovering();
    void commandDialog();
    void masterInfo();
};

void TestDialogs::configCommand()
{
    struct Case {
        QString anchors, tags;
        QByteArray expected;
    };
    const QList<Case> cases = {
        {"", "7A8B", ""},                                       // tags alone still need anchors
        {"1A2B*", "", "$PK,1A2B,0,0,\r\n"},
        {"1A2B* 3C4D 5E6F", "7A8B", "$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n"},
        {"ab12* cd34", "ef56", "$PK,AB12,1,1,CD34,EF56,\r\n"},  // ids go out upper-cased
        {"1A2B* 3C4D 3C4D", "", "$PK,1A2B,2,0,3C4D,3C4D,\r\n"}, // duplicates as often as they occur
        {"1111* 3C4D 2222*", "", "$PK,2222,2,0,3C4D,\r\n"},     // the last master names it
        {"3C4D", "", "$PK,,0,0,3C4D,\r\n"},                     // no master (an unchecked record)
    };
    for (const Case& c : cases)
        QCOMPARE(buildConfigCommand(setupOf(c.anchors, c.tags)).toLatin1(), c.expected);

    // Counts are upper-case hex without leading zeros.
    QString anchors = "1A2B*", tags;
    for (int i = 0; i < 11; ++i)
        anchors += ' ' + QString::number(0x100 + i, 16);
    for (int i = 0; i < 26; ++i)
        tags += ' ' + QString::number(0x200 + i, 16);
    const QByteArray cmd = buildConfigCommand(setupOf(anchors, tags)).toLatin1();
    QVERIFY(cmd.startsWith("$PK,1A2B,B,1A,100,101,"));
    QVERIFY(cmd.endsWith(",219,\r\n"));
}

void TestDialogs::discoveryPackets()
{
    ModuleSetup setup = setupOf("1A2B* 5E6F");
    Discovery d(&setup);
    QTableWidget* t = d.table();
    ModalAnswerer answerer;

    // The master's echo of "$PW,1" is a 'W' line arriving while the start is pending.
    d.harness.beforeAnswer = [&](const QByteArray& cmd) { d.dialog.discoverPacket(cmd); };
    d.click("btnStartDiscovery");
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Discovering);
    QCOMPARE(lights(t), QString("RR"));
    d.dialog.discoverPacket("$PW,0,1A2B,5E6F\r\n");
    QCOMPARE(lights(t), QString("GG"));

    // Only 1A2B and a new 3c4d heard: 5E6F goes red, 3C4D is added upper-cased;
    // value 1, not hex, empty and too short lines add nothing.
    d.dialog.discoverPacket("$PW,0,1A2B,3c4d\r\n");
    for (const QByteArray& p : {QByteArray("$PW,0,1A2B,0001,XYZ,, ,3c4d,1\r\n"), QByteArray("$PW,1\r\n"), QByteArray()})
        d.dialog.discoverPacket(p);
    QCOMPARE(idColumn(t), QStringList({"1A2B", "5E6F", "3C4D"}));
    QCOMPARE(lights(t), QString("GRG"));
    QCOMPARE(roleCellValue(t, 2, ColRole), int(RoleNotUsed));

    // A different master id gives a second, fixed master row, which the check refuses.
    d.dialog.discoverPacket("$PW,0,9999,1A2B\r\n");
    QCOMPARE(text(t, 3, ColId), QString("9999"));
    QCOMPARE(roleCellValue(t, 3, ColRole), int(RoleMaster));
    d.click("btnStartDiscovery");
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PW,1,\r\n", "$PW,0,\r\n"}));
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Idle);
    d.click("btnFinishDiscovery");
    QCOMPARE(boxOf(answerer.seen.value(0)), QStringList({"Modulkonfiguration", NoMaster, "Information"}));
    QCOMPARE(d.harness.commands.size(), 2);

    // 100000 distinct ids: the table stops growing at its bound, and known rows still match.
    ModuleSetup other = setupOf("1A2B* 5E6F");
    Discovery flooded(&other);
    flooded.click("btnStartDiscovery");
    QByteArray distinct("$PW,0,1A2B");
    for (int i = 0; i < 100000; ++i)
        distinct += ',' + QByteArray::number(0x10000 + i, 16);
    flooded.dialog.discoverPacket(distinct + "\r\n");
    QCOMPARE(flooded.table()->rowCount(), DiscoverWin::maxDiscoveredRows);
    flooded.dialog.discoverPacket("$PW,0,1A2B,5E6F\r\n");
    QCOMPARE(lights(flooded.table()).left(3), QString("GGR"));
}

void TestDialogs::configurationCheck()
{
    ModalAnswerer answerer;
    const QString badId = "Mindestens eine ID ist keine gültige HEX-Zahl!\n";
    const QString badName = "Mindestens ein Name ist ungültig oder leer!\n";

    // Whole-table faults, all in one box, in order.
    ModuleSetup many = setupOf("10 11 12 13", "20 21 22 23 24");
    Discovery all(&many);
    setText(all.table(), 0, ColId, "XYZ");
    setText(all.table(), 1, ColName, "");
    all.click("btnFinishDiscovery");
    QCOMPARE(boxOf(answerer.seen.value(0)),
             QStringList({"Modulkonfiguration",
                          NoMaster + "Sie können maximal 3 Slave-Anker definieren!\n" + "Sie können maximal 4 Tags definieren!\n" + badId + badName,
                          "Information"}));
    QVERIFY(all.harness.commands.isEmpty());

    // Single faults block whatever the row's role.
    struct Case {
        int column;
        QString value;
        int role;
        QString expected;
    };
    const QList<Case> cases = {
        {ColName, "   ", RoleNotUsed, badName},
        {ColId, "12G4", RoleTag, badId},
        {ColId, "123456789", RoleAnchor, badId},   // too large for an int
    };
    for (const Case& c : cases) {
        ModuleSetup setup = sampleSetup();
        Discovery d(&setup);
        setRole(d.table(), 1, c.role);
        setText(d.table(), 1, c.column, c.value);
        const int boxes = answerer.seen.size();
        d.click("btnFinishDiscovery");
        QCOMPARE(boxTexts(answerer, boxes), QStringList({c.expected}));
        QVERIFY(d.harness.commands.isEmpty());
    }

    // Three further anchors and four tags are the limit, not over it; unused rows do not count.
    ModuleSetup setup = setupOf("1A2B* 10 11 12", "20 21 22 23 24");
    Discovery d(&setup);
    setRole(d.table(), 8, RoleNotUsed);
    const int boxes = answerer.seen.size();
    d.click("btnFinishDiscovery");
    QCOMPARE(answerer.seen.size(), boxes);
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PK,1A2B,3,4,10,11,12,20,21,22,23,\r\n"}));
}

void TestDialogs::upload()
{
    ModalAnswerer answerer;
    ModuleSetup setup = sampleSetup();
    setup.tags[0].rawX = 12;                              // measurement state that a rebuild must clear
    Discovery d(&setup);
    QTableWidget* t = d.table();

    d.dialog.discoverPacket("$PW,0,1A2B,3C4D,9abc\r\n");
    setRole(t, 3, RoleTag);
    setRole(t, 4, RoleAnchor);
    setText(t, 4, ColId, "9abc");             // typed in lower case
    setText(t, 4, ColName, "  Nord");         // leading blanks are a valid name, kept as typed
    setText(t, 4, ColX, "12a");               // not a number
    setText(t, 4, ColY, " 250 ");
    setText(t, 4, ColZ, "");
    setText(t, 4, ColOffset, "-3");
    setText(t, 1, ColId, "9ABC");             // the same module twice passes the check

    // The records are replaced before the answer comes; a failure warns and keeps them.
    ModuleSetup during;
    d.harness.beforeAnswer = [&](const QByteArray&) { during = setup; };
    d.harness.answers = {false};
    d.click("btnFinishDiscovery");
    QCOMPARE(d.harness.commands.last(), QByteArray("$PK,1A2B,2,2,9ABC,9ABC,7A8B,3C4D,\r\n"));
    QCOMPARE(recordsOf(during.anchors), QStringList({QString("1A2B|Master|%1|100,200,30|M|7").arg(hex(1)),
                                                     QString("9ABC|Ost|%1|500,0,0|-|-4").arg(hex(3)),
                                                     QString("9abc|  Nord|%1|0,250,0|-|-3").arg(hex(4))}));
    QCOMPARE(recordsOf(during.tags), QStringList({QString("7A8B|Wagen|%1|1010101").arg(hex(7)),
                                                  QString("3C4D|3C4D|%1|0100000").arg(hex(3))}));
    QVERIFY(hasNoMeasurement(during.tags.at(0)));
    QCOMPARE(boxTexts(answerer), QStringList({"Die Konfiguration konnte nicht übernommen werden!"}));
    QCOMPARE(recordsOf(setup.tags), recordsOf(during.tags));
    QVERIFY(d.enabled("btnFinishDiscovery"));

    // Pressing again succeeds and ends the dialog.
    d.harness.beforeAnswer = nullptr;
    setRole(t, 3, RoleNotUsed);
    d.click("btnFinishDiscovery");
    QCOMPARE(d.harness.commands.last(), QByteArray("$PK,1A2B,2,1,9ABC,9ABC,7A8B,\r\n"));
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(d.dialog.result(), int(QDialog::Accepted));
}

void TestDialogs::closeWhileDiscovering()
{
    ModalAnswerer answerer;
    const QString finishFirst = "Bitte beenden Sie erst den Erkennungsmodus!";
    const QString discard = "Achtung:\nAlle geänderten Einstellungen bzgl Tags und Anker werden verworfen!";
    ModuleSetup setup = sampleSetup();
    Discovery d(&setup);
    d.dialog.show();
    d.click("btnStartDiscovery");

    // OK at the first box refuses; Ignore then Cancel at the question refuses;
    // Ignore then OK closes and leaves the master in discovery mode.
    answerer.answer(QMessageBox::Ok);
    QVERIFY(!d.dialog.close());
    answerer.answer(QMessageBox::Ignore);
    answerer.answer(QMessageBox::Cancel);
    QVERIFY(!d.dialog.close());
    answerer.answer(QMessageBox::Ignore);
    answerer.answer(QMessageBox::Ok);
    QVERIFY(d.dialog.close());
    QCOMPARE(boxTexts(answerer), QStringList({finishFirst, finishFirst, discard, finishFirst, discard}));
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PW,1,\r\n"}));
    QCOMPARE(setup.anchors.size(), 2);
}

void TestDialogs::commandDialog()
{
    ModalAnswerer answerer;
    const QString missing = "Sie müssen zuerst einen Befehl auswählen!";
    ModuleSetup setup = setupOf("1A2B* 3c4d", "7A8B");
    CommandWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    auto* rx = dialog.findChild<QRadioButton*>("rbRXLED");
    QVERIFY(rx);

    // Nothing chosen, then only "an", then only "RX LED": nothing goes out.
    findButton(&dialog, "btnSendCommand")->click();
    dialog.findChild<QRadioButton*>("rbLEDon")->click();
    findButton(&dialog, "btnSendCommand")->click();
    CommandWin second(nullptr);
    Harness h2;
    h2.attach(&second);
    second.setModules(&setup);
    second.findChild<QRadioButton*>("rbRXLED")->click();
    findButton(&second, "btnSendCommand")->click();
    QCOMPARE(boxTexts(answerer), QStringList({missing, missing, "Sie müssen die Parameter spezifizieren!"}));
    QCOMPARE(boxOf(answerer.seen.at(0)), QStringList({"Befehl senden", missing, "Warning"}));
    QVERIFY(harness.commands.isEmpty() && h2.commands.isEmpty());

    // Without tags the last anchor is selected.
    ModuleSetup anchorsOnly = setupOf("1A2B* 3c4d");
    CommandWin third(nullptr);
    third.setModules(&anchorsOnly);
    QCOMPARE(third.findChild<QComboBox*>("cmbModule")->currentText(), QString("3c4d [ 3c4d ]"));
}

void TestDialogs::masterInfo()
{
    MasterInfo info;
    qint64 clock = 1700000000000LL;
    info.now = [&] { return clock; };
    const QString identity = "Master ID: 1A2B - Version: V2.3";
    const QString silent = "keine Verbindung";
    auto check = [&] { QVERIFY(QMetaObject::invokeMethod(&info, "checkAlive", Qt::DirectConnection)); };

    // Each step: advance the clock, optionally feed, check, expect.
    struct Step {
        qint64 advance;
        QByteArray packet;          // "touch" for a bare sign of life
        bool checkAfter;
        QString expected;
    };
    const QList<Step> steps = {
        {0, "", true, silent},                               // nothing heard since start
        {0, "$PX,1A2B,V2.3\r\n", false, identity},
        {5000, "", true, identity},                          // five seconds are not silence
        {1, "", true, silent},
        {0, "touch", false, silent},                         // a packet shows at the next check
        {0, "", true, identity},
        {-100000, "", true, identity},                       // a clock that went back is no silence
        {100000, "$PX,1A2B\r\n", false, QString()},          // a short 'X' line clears, no sign of life
        {5001, "", true, silent},
        {0, "$PX, 3C4D , 1.0 ,extra\r\n", false, "Master ID: 3C4D - Version: 1.0"},   // trimmed, extra ignored
    };
    for (const Step& s : steps) {
        clock += s.advance;
        if (s.packet == "touch")
            info.touch();
        else if (!s.packet.isEmpty())
            info.masterPacket(s.packet);
        if (s.checkAfter)
            check();
        QCOMPARE(info.text(), s.expected);
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
