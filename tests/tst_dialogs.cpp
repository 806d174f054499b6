#include "aboutwin.h"
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
#include <QRandomGenerator>
#include <QStackedWidget>
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

QComboBox* roleCombo(QTableWidget* t, int row)
{
    QWidget* cell = t->cellWidget(row, ColRole);
    return cell ? cell->findChild<QComboBox*>() : nullptr;
}

void setRole(QTableWidget* t, int row, int role)
{
    QComboBox* combo = roleCombo(t, row);
    QVERIFY(combo && combo->findData(role) >= 0);
    combo->setCurrentIndex(combo->findData(role));
}

QStringList comboTexts(QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

// One row as "id|role|name|x|y|z|offset|colour|flags"; '#' marks a read-only
// id and a fixed role, the flags are the seven display options as 0/1.
QString row(QTableWidget* t, int r)
{
    QString flags;
    for (int c = 7; c <= 13; ++c)
        flags += isCellChecked(t, r, c) ? '1' : '0';
    const bool idFixed = !(t->item(r, ColId)->flags() & Qt::ItemIsEditable);
    QComboBox* role = roleCombo(t, r);
    return QStringList({text(t, r, ColId) + (idFixed ? "#" : ""),
                        role->currentText() + (role->isEnabled() ? "" : "#"), text(t, r, ColName),
                        text(t, r, ColX), text(t, r, ColY), text(t, r, ColZ), text(t, r, ColOffset),
                        cellColor(t, r, ColColor).name(), flags})
        .join('|');
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
const QString RestoreFailed = "Die Konfiguration konnte nicht zurückgesetzt werden!";
const QString UploadFailed = "Die Konfiguration konnte nicht übernommen werden!";

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void configCommand();
    void discoveryTable();
    void discoveryPackets();
    void discoveryHostilePackets();
    void startStopAndManualAdd();
    void configurationCheck();
    void upload();
    void resetAndDiscard();
    void closeQuestions();
    void commandDialog();
    void masterInfo();
    void aboutWin();
};

void TestDialogs::configCommand()
{
    struct Case {
        QString anchors, tags;
        QByteArray expected;
    };
    const QList<Case> cases = {
        {"", "", ""},                                           // no anchors at all
        {"", "7A8B", ""},                                       // tags alone still need anchors
        {"1A2B*", "", "$PK,1A2B,0,0,\r\n"},
        {"1A2B* 3C4D 5E6F", "7A8B", "$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n"},
        {"ab12* cd34", "ef56", "$PK,AB12,1,1,CD34,EF56,\r\n"},  // ids go out upper-cased
        {"1A2B* 3C4D 3C4D", "", "$PK,1A2B,2,0,3C4D,3C4D,\r\n"}, // duplicates as often as they occur
        {"1111* 3C4D 2222*", "", "$PK,2222,2,0,3C4D,\r\n"},     // the last master names it
        {"3C4D", "", "$PK,,0,0,3C4D,\r\n"},                     // no master (an unchecked record)
        {"%2*", "", "$PK,%2,0,0,\r\n"},                         // '%' is no placeholder
    };
    for (const Case& c : cases) {
        const ModuleSetup setup = setupOf(c.anchors, c.tags);
        QCOMPARE(buildConfigCommand(setup).toLatin1(), c.expected);
        if (!setup.anchors.isEmpty())
            QCOMPARE(setup.anchors.first().id, c.anchors.section(' ', 0, 0).remove('*'));   // records keep their text
    }

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

void TestDialogs::discoveryTable()
{
    // Records out of order: a further anchor before the master.
    ModuleSetup setup;
    setup.anchors << Anchor("5E6F", "Ost", colorList.at(3), 500, -20, 9, false, -4)
                  << Anchor("1A2B", "Master", colorList.at(1), 100, 200, 30, true, 7);
    setup.tags << Tag("7A8B", "Wagen", QColor(1, 2, 3), true, false, true, false, true, false, true);

    DiscoverWin dialog(nullptr);
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    QTableWidget* t = dialog.table();
    for (int c = 0; c < t->columnCount(); ++c)
        QCOMPARE(t->isColumnHidden(c), c == ColZ || c >= 7);
    dialog.setModules(&setup);

    // Master first with a fixed role, then anchors, then tags; a colour off the list is kept.
    QCOMPARE(row(t, 0), QString("1A2B#|Master#|Master|100|200|30|7|%1|0000000").arg(colorList.at(1).name()));
    QCOMPARE(row(t, 1), QString("5E6F|Anker|Ost|500|-20|9|-4|%1|0000000").arg(colorList.at(3).name()));
    QCOMPARE(row(t, 2), QString("7A8B|Tag|Wagen|-|-|-|0|#010203|1010101"));
    QCOMPARE(roleCellValue(t, 0, ColRole), int(RoleMaster));
    QCOMPARE(comboTexts(roleCombo(t, 0)), QStringList({"Master"}));
    QCOMPARE(comboTexts(roleCombo(t, 1)), QStringList({"Anker", "Tag", "nicht nutzen"}));
    QCOMPARE(lights(t), QString("RRR"));

    // Picking a colour paints that combo with it.
    auto* colour = t->cellWidget(1, ColColor)->findChild<QFlatComboBox*>();
    QVERIFY(colour);
    colour->setCurrentIndex(9);
    QCOMPARE(colour->palette().color(QPalette::Window), colorList.at(9));
    QCOMPARE(colour->palette().color(QPalette::Base), colorList.at(9));
    QCOMPARE(cellColor(t, 1, ColColor), colorList.at(9));

    // Refilling replaces the rows and never writes the records.
    dialog.setModules(&setup);
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(recordsOf(setup.anchors).first(), QString("5E6F|Ost|%1|500,-20,9|-|-4").arg(hex(3)));
}

void TestDialogs::discoveryPackets()
{
    ModuleSetup setup;
    setup.anchors << Anchor("1A2B", "Master", colorList.at(1), 0, 0, 0, true, 0)
                  << Anchor("5E6F", "Ost", colorList.at(3), 0, 0, 0, false, 0);
    Discovery d(&setup);
    QTableWidget* t = d.table();
    ModalAnswerer answerer;

    // The master echoes "$PW,1": a 'W' line that arrives while the start is pending.
    d.harness.beforeAnswer = [&](const QByteArray& cmd) { d.dialog.discoverPacket(cmd); };
    d.click("btnStartDiscovery");
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PW,1,\r\n"}));
    QCOMPARE(d.harness.looseFlags, QList<bool>({false}));
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Discovering);
    QCOMPARE(lights(t), QString("RR"));
    QCOMPARE(findButton(&d.dialog, "btnStartDiscovery")->text(), QString("Erkennungsmodus beenden"));
    QVERIFY(!d.enabled("btnResetConfiguration") && !d.enabled("btnCancelDiscovery")
            && !d.enabled("btnFinishDiscovery") && d.enabled("addDummys"));

    d.dialog.discoverPacket("$PW,0,1A2B,5E6F\r\n");
    QCOMPARE(lights(t), QString("GG"));

    // Only 1A2B and the new 3C4D heard: 5E6F goes red, 3C4D is added unused.
    d.dialog.discoverPacket("$PW,0,1A2B,3C4D\r\n");
    QCOMPARE(lights(t), QString("GRG"));
    QCOMPARE(row(t, 2), QString("3C4D|nicht nutzen|3C4D|0|0|0|0|%1|0100000").arg(colorList.at(2).name()));
    QCOMPARE(roleCellValue(t, 2, ColRole), int(RoleNotUsed));

    // Lower case in the packet is upper-cased; value 1, not hex, empty: no row.
    // Too short: ignored, even while discovering.
    for (const QByteArray& p : {QByteArray("$PW,0,1A2B,0001,XYZ,, ,3c4d,1\r\n"), QByteArray("$PW,1\r\n"), QByteArray()})
        d.dialog.discoverPacket(p);
    QCOMPARE(lights(t), QString("GRG"));

    // A different master id gives a second, fixed master row.
    d.dialog.discoverPacket("$PW,0,9999,1A2B\r\n");
    QCOMPARE(row(t, 3), QString("9999#|Master#|9999|0|0|0|0|%1|0100000").arg(colorList.at(3).name()));
    QCOMPARE(lights(t), QString("GRRG"));

    // The echo of "$PW,0" arrives while the stop is pending and changes nothing.
    d.click("btnStartDiscovery");
    QCOMPARE(d.harness.commands.last(), QByteArray("$PW,0,\r\n"));
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(lights(t), QString("GRRG"));
    QCOMPARE(findButton(&d.dialog, "btnStartDiscovery")->text(), QString("Erkennungsmodus starten"));
    QVERIFY(d.enabled("btnFinishDiscovery"));

    // Outside discovery mode a packet still colours and adds, but marks nothing red.
    d.dialog.discoverPacket("$PW,0,1A2B,5E6F\r\n");
    QCOMPARE(lights(t), QString("GGRG"));

    // Neither master row can go, so the check refuses the table.
    d.click("btnFinishDiscovery");
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(boxOf(answerer.seen.at(0)), QStringList({"Modulkonfiguration", NoMaster, "Information"}));
    QCOMPARE(d.harness.commands.size(), 2);
    QCOMPARE(recordsOf(setup.anchors).size(), 2);

    // A row written in lower case does not match the upper-cased packet id.
    ModuleSetup lower = setupOf("1A2B* 3c4d");
    Discovery second(&lower);
    second.click("btnStartDiscovery");
    second.dialog.discoverPacket("$PW,0,1A2B,3c4d\r\n");
    QCOMPARE(idColumn(second.table()), QStringList({"1A2B", "3c4d", "3C4D"}));
    QCOMPARE(lights(second.table()), QString("GRG"));
}

void TestDialogs::discoveryHostilePackets()
{
    ModuleSetup setup = sampleSetup();
    Discovery d(&setup);
    d.click("btnStartDiscovery");
    QTableWidget* t = d.table();

    // 100000 copies of known ids: nothing new.
    QByteArray same("$PW,0,1A2B");
    for (int i = 0; i < 100000; ++i)
        same += ",5E6F";
    d.dialog.discoverPacket(same + "\r\n");
    QCOMPARE(lights(t), QString("GGR"));

    // 100000 distinct ids: the table stops growing at its bound.
    QByteArray distinct("$PW,0,1A2B");
    for (int i = 0; i < 100000; ++i)
        distinct += ',' + QByteArray::number(0x10000 + i, 16);
    QElapsedTimer timer;
    timer.start();
    d.dialog.discoverPacket(distinct + "\r\n");
    qInfo("100000 distinct ids: %lld ms, %d rows", timer.elapsed(), t->rowCount());
    QCOMPARE(t->rowCount(), DiscoverWin::maxDiscoveredRows);
    QCOMPARE(text(t, 3, ColId), QString("10000"));
    // Known rows are still matched once the bound is reached.
    d.dialog.discoverPacket("$PW,0,1A2B,7A8B\r\n");
    QCOMPARE(lights(t).left(3), QString("GRG"));

    // Garbage bytes, NULs, high bytes and stray commas do not upset it.
    QRandomGenerator rng(4711);
    for (int round = 0; round < 200; ++round) {
        QByteArray junk("$PW");
        const int n = int(rng.bounded(400));
        for (int i = 0; i < n; ++i)
            junk += rng.bounded(6) == 0 ? char(',') : char(rng.bounded(256));
        d.dialog.discoverPacket(junk);
    }
    d.dialog.discoverPacket(QByteArray(",,,,,,,,,,"));
    d.dialog.discoverPacket(QByteArray("\xff\xfe,\x00,\x80\x81", 7));
    QVERIFY(t->rowCount() <= DiscoverWin::maxDiscoveredRows);
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Discovering);
}

void TestDialogs::startStopAndManualAdd()
{
    ModuleSetup setup = sampleSetup();
    Discovery d(&setup);
    ModalAnswerer answerer;

    // A refused start and a refused stop each warn and leave the state as it was.
    d.harness.answers = {false, true, false};
    d.click("btnStartDiscovery");
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(answerer.seen.at(0).buttonTexts.size(), 1);
    d.click("btnStartDiscovery");
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Discovering);
    d.click("btnStartDiscovery");
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(boxOf(answerer.seen.at(0)), QStringList({"Erkennungsmodus starten",
                                                      "Der Erkennungsmodus konnte nicht initialisiert werden!", "Warning"}));
    QCOMPARE(boxOf(answerer.seen.at(1)), QStringList({"Erkennungsmodus beenden",
                                                      "Der Erkennungsmodus konnte nicht beendet werden!", "Warning"}));
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PW,1,\r\n", "$PW,1,\r\n", "$PW,0,\r\n"}));
    QVERIFY(d.enabled("btnFinishDiscovery"));

    // Manual add copies the master's place, colour and offset; an unreadable
    // master position falls back to 0.
    QTableWidget* t = d.table();
    d.click("addDummys");
    QCOMPARE(row(t, 3), QString("0|Anker|0|100|200|30|7|%1|0000000").arg(colorList.at(1).name()));
    QCOMPARE(lights(t), QString("RRRR"));
    setText(t, 0, ColX, "abc");
    d.click("addDummys");
    QCOMPARE(text(t, 4, ColX), QString("0"));
    QCOMPARE(answerer.seen.size(), 2);

    // Without a master row there is nothing to copy.
    ModuleSetup noMaster = setupOf("5E6F");
    Discovery lonely(&noMaster);
    lonely.click("addDummys");
    QCOMPARE(lonely.table()->rowCount(), 1);
    QCOMPARE(boxOf(answerer.seen.last()),
             QStringList({"Modul manuell hinzufügen", "Es wurde kein Masteranker gefunden!", "Warning"}));
}

void TestDialogs::configurationCheck()
{
    ModalAnswerer answerer;
    const QString badId = "Mindestens eine ID ist keine gültige HEX-Zahl!\n";
    const QString badName = "Mindestens ein Name ist ungültig oder leer!\n";
    const QString tooManyTags = "Sie können maximal 4 Tags definieren!\n";

    // Whole-table faults, all in one box, in order.
    {
        ModuleSetup setup = setupOf("1A2B* 2B3C*", "7A80 7A81 7A82 7A83 7A84");
        Discovery d(&setup);
        d.click("btnFinishDiscovery");
        QCOMPARE(boxOf(answerer.seen.last()), QStringList({"Modulkonfiguration", NoMaster + tooManyTags, "Information"}));
        QCOMPARE(answerer.seen.last().buttonTexts.size(), 1);
        QVERIFY(d.harness.commands.isEmpty());
        QCOMPARE(setup.tags.size(), 5);
    }
    {
        ModuleSetup setup = setupOf("10 11 12 13", "20 21 22 23 24");
        Discovery d(&setup);
        setText(d.table(), 0, ColId, "XYZ");
        setText(d.table(), 1, ColName, "");
        d.click("btnFinishDiscovery");
        QCOMPARE(answerer.seen.last().text,
                 NoMaster + "Sie können maximal 3 Slave-Anker definieren!\n" + tooManyTags + badId + badName);
        QVERIFY(d.harness.commands.isEmpty());
    }

    // Single faults, each blocking on its own, whatever the row's role.
    struct Case {
        int column;
        QString value;
        int role;
        QString expected;
    };
    const QList<Case> cases = {
        {ColName, "   ", RoleNotUsed, badName},
        {ColName, "", RoleAnchor, badName},
        {ColId, "12G4", RoleTag, badId},
        {ColId, "  ", RoleNotUsed, badId},
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
        QCOMPARE(setup.anchors.at(1).name, QString("Ost"));
    }

    // Three further anchors and four tags are the limit, not over it; unused rows do not count.
    ModuleSetup setup = setupOf("1A2B* 10 11 12", "20 21 22 23 24 25");
    Discovery d(&setup);
    setRole(d.table(), 8, RoleNotUsed);
    setRole(d.table(), 9, RoleNotUsed);
    const int boxes = answerer.seen.size();
    d.click("btnFinishDiscovery");
    QCOMPARE(answerer.seen.size(), boxes);
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PK,1A2B,3,4,10,11,12,20,21,22,23,\r\n"}));
    QCOMPARE(setup.tags.size(), 4);
}

void TestDialogs::upload()
{
    ModalAnswerer answerer;
    ModuleSetup setup = sampleSetup();
    setup.tags[0].rawX = 12;            // measurement state that a rebuild must clear
    Discovery d(&setup);
    QTableWidget* t = d.table();

    // Discover two more modules and give them roles.
    d.click("btnStartDiscovery");
    d.dialog.discoverPacket("$PW,0,1A2B,3C4D,9abc\r\n");
    d.click("btnStartDiscovery");
    QCOMPARE(idColumn(t), QStringList({"1A2B", "5E6F", "7A8B", "3C4D", "9ABC"}));
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
    QCOMPARE(d.harness.looseFlags.last(), false);
    QCOMPARE(recordsOf(during.anchors), QStringList({QString("1A2B|Master|%1|100,200,30|M|7").arg(hex(1)),
                                                     QString("9ABC|Ost|%1|500,0,0|-|-4").arg(hex(3)),
                                                     QString("9abc|  Nord|%1|0,250,0|-|-3").arg(hex(4))}));
    QCOMPARE(recordsOf(during.tags), QStringList({QString("7A8B|Wagen|%1|1010101").arg(hex(7)),
                                                  QString("3C4D|3C4D|%1|0100000").arg(hex(3))}));
    QVERIFY(hasNoMeasurement(during.tags.at(0)));
    QCOMPARE(boxOf(answerer.seen.last()), QStringList({"Konfiguration übernehmen", UploadFailed, "Warning"}));
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(d.dialog.result(), int(QDialog::Rejected));
    QCOMPARE(recordsOf(setup.tags), recordsOf(during.tags));
    QVERIFY(d.enabled("btnFinishDiscovery"));

    // Pressing again succeeds and ends the dialog.
    d.harness.beforeAnswer = nullptr;
    setRole(t, 3, RoleNotUsed);
    d.click("btnFinishDiscovery");
    QCOMPARE(d.harness.commands.last(), QByteArray("$PK,1A2B,2,1,9ABC,9ABC,7A8B,\r\n"));
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(d.dialog.result(), int(QDialog::Accepted));
    QCOMPARE(setup.tags.size(), 1);

    // After a reset the failure warning says the master is in an undefined state.
    ModuleSetup other = sampleSetup();
    Discovery r(&other);
    answerer.answer(QMessageBox::Ok);
    r.harness.answers = {true, false};
    r.click("btnResetConfiguration");
    QCOMPARE(r.table()->rowCount(), 1);
    r.click("btnFinishDiscovery");
    QCOMPARE(r.harness.commands, QList<QByteArray>({"$PL,\r\n", "$PK,1A2B,0,0,\r\n"}));
    QCOMPARE(boxOf(answerer.seen.last()),
             QStringList({"Konfiguration übernehmen",
                          UploadFailed + "\nAchtung, die Daten auf dem Master befinden sich in undefiniertem "
                                         "Zustand, die Module müssen neu erfasst werden!",
                          "Warning"}));
    QCOMPARE(other.anchors.size(), 1);
    QVERIFY(other.tags.isEmpty());

    // A discard now re-sends the replaced records, not the ones the dialog started from.
    r.click("btnCancelDiscovery");
    QCOMPARE(r.harness.commands.last(), QByteArray("$PK,1A2B,0,0,\r\n"));
    QCOMPARE(r.dialog.result(), int(QDialog::Rejected));
}

void TestDialogs::resetAndDiscard()
{
    ModalAnswerer answerer;

    ModuleSetup setup = sampleSetup();
    Discovery d(&setup);
    QTableWidget* t = d.table();
    d.dialog.discoverPacket("$PW,0,1A2B,4444\r\n");       // an extra unused row

    // Cancel at the question: nothing happens.
    answerer.answer(QMessageBox::Cancel);
    d.click("btnResetConfiguration");
    QCOMPARE(boxOf(answerer.seen.at(0)),
             QStringList({"Module erkennen",
                          "Achtung:\nAlle getroffenen Einstellungen bzgl Tags und Anker werden hiermit gelöscht!\n"
                          "Das kann nicht rückgängig gemacht werden!",
                          "Question"}));
    QCOMPARE(answerer.seen.at(0).buttonTexts.size(), 2);
    QVERIFY(d.harness.commands.isEmpty());
    QCOMPARE(t->rowCount(), 4);

    // A failed reset (loose "$PL") keeps the rows but still counts as a reset.
    answerer.answer(QMessageBox::Ok);
    d.harness.answers = {false};
    d.click("btnResetConfiguration");
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PL,\r\n"}));
    QCOMPARE(d.harness.looseFlags, QList<bool>({true}));
    QCOMPARE(boxOf(answerer.seen.at(2)),
             QStringList({"Konfiguration zurücksetzen", "Befehl konnte nicht ausgeführt werden!", "Warning"}));
    QCOMPARE(t->rowCount(), 4);

    // A successful reset leaves only the master row; the records are untouched.
    answerer.answer(QMessageBox::Ok);
    d.click("btnResetConfiguration");
    QCOMPARE(answerer.seen.size(), 4);
    QCOMPARE(idColumn(t), QStringList({"1A2B"}));
    QCOMPARE(roleCellValue(t, 0, ColRole), int(RoleMaster));
    QCOMPARE(setup.anchors.size(), 2);

    // Discard re-sends the records; a failure keeps the dialog open.
    d.harness.answers = {false};
    d.click("btnCancelDiscovery");
    QCOMPARE(d.harness.commands.last(), QByteArray("$PK,1A2B,1,1,5E6F,7A8B,\r\n"));
    QCOMPARE(d.harness.looseFlags.last(), false);
    QCOMPARE(boxOf(answerer.seen.last()), QStringList({"Konfiguration verwerfen", RestoreFailed, "Warning"}));
    QVERIFY(d.enabled("btnCancelDiscovery"));

    d.dialog.show();
    d.click("btnCancelDiscovery");
    QCOMPARE(d.harness.commands.size(), 4);
    QCOMPARE(d.harness.commands.last(), QByteArray("$PK,1A2B,1,1,5E6F,7A8B,\r\n"));
    QVERIFY(!d.dialog.isVisible());
    QCOMPARE(d.dialog.result(), int(QDialog::Rejected));

    // Restoring with no anchors at all: the empty command fails.
    ModuleSetup empty;
    Discovery bare(&empty);
    answerer.answer(QMessageBox::Ok);
    bare.click("btnResetConfiguration");
    bare.click("btnCancelDiscovery");
    QCOMPARE(bare.harness.commands, QList<QByteArray>({"$PL,\r\n", QByteArray()}));
    QCOMPARE(boxTexts(answerer, 6), QStringList({RestoreFailed}));   // after the reset question
}

void TestDialogs::closeQuestions()
{
    ModalAnswerer answerer;
    const QString finishFirst = "Bitte beenden Sie erst den Erkennungsmodus!";
    const QString discard = "Achtung:\nAlle geänderten Einstellungen bzgl Tags und Anker werden verworfen!";
    ModuleSetup setup = sampleSetup();
    Discovery d(&setup);
    d.dialog.show();
    d.click("btnStartDiscovery");

    // While discovering: OK at the first box refuses; Ignore then Cancel at the
    // question refuses; Escape asks the same; Ignore then OK closes and leaves
    // the master in discovery mode.
    answerer.answer(QMessageBox::Ok);
    QVERIFY(!d.dialog.close());
    answerer.answer(QMessageBox::Ignore);
    answerer.answer(QMessageBox::Cancel);
    QVERIFY(!d.dialog.close());
    answerer.answer(QMessageBox::Ok);
    QTest::keyClick(&d.dialog, Qt::Key_Escape);
    QVERIFY(d.dialog.isVisible());
    answerer.answer(QMessageBox::Ignore);
    answerer.answer(QMessageBox::Ok);
    QVERIFY(d.dialog.close());
    QCOMPARE(boxTexts(answerer), QStringList({finishFirst, finishFirst, discard, finishFirst, finishFirst, discard}));
    QCOMPARE(boxOf(answerer.seen.at(0)), QStringList({"Konfiguration verwerfen", finishFirst, "Warning"}));
    QCOMPARE(boxOf(answerer.seen.at(2)), QStringList({"Konfiguration verwerfen", discard, "Question"}));
    QCOMPARE(answerer.seen.at(0).buttonTexts.size(), 2);
    QCOMPARE(d.dialog.result(), int(QDialog::Rejected));
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PW,1,\r\n"}));
    QCOMPARE(setup.anchors.size(), 2);

    // In Idle only the question is asked; Escape leads to it too.
    ModuleSetup other = sampleSetup();
    DiscoverWin idle(nullptr);
    idle.setModules(&other);
    idle.show();
    answerer.answer(QMessageBox::Cancel);
    QTest::keyClick(&idle, Qt::Key_Escape);
    QVERIFY(idle.isVisible());
    answerer.answer(QMessageBox::Ok);
    QTest::keyClick(&idle, Qt::Key_Escape);
    QVERIFY(!idle.isVisible());
    QCOMPARE(boxTexts(answerer, 6), QStringList({discard, discard}));

    // Run modally as the main window does: the close ends exec().
    DiscoverWin modal(nullptr);
    modal.setModules(&other);
    answerer.answer(QMessageBox::Ok);
    QTimer::singleShot(50, &modal, [&] { modal.close(); });
    QCOMPARE(modal.exec(), int(QDialog::Rejected));
    QCOMPARE(answerer.seen.size(), 9);
}

void TestDialogs::commandDialog()
{
    ModalAnswerer answerer;
    ModuleSetup setup;
    setup.anchors << Anchor("1A2B", "Master", Qt::black, 0, 0, 0, true, 0)
                  << Anchor("3c4d", "Ost", Qt::black, 0, 0, 0, false, 0);
    setup.tags << Tag("7A8B", "Wagen", Qt::black, false, true, false, false, false, false, false)
               << Tag("9C0D", "Karre", Qt::black, false, true, false, false, false, false, false);
    const QString title = "Befehl senden";
    const QString missing = "Sie müssen zuerst einen Befehl auswählen!";

    CommandWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    auto* combo = dialog.findChild<QComboBox*>("cmbModule");
    auto* pnl = dialog.findChild<QStackedWidget*>("pnlOptions");
    auto* rx = dialog.findChild<QRadioButton*>("rbRXLED");
    auto* tx = dialog.findChild<QRadioButton*>("rbTXLED");
    auto* on = dialog.findChild<QRadioButton*>("rbLEDon");
    auto* off = dialog.findChild<QRadioButton*>("rbLEDoff");
    QVERIFY(combo && pnl && rx && tx && on && off);
    QCOMPARE(comboTexts(combo),
             QStringList({"alle", "Master [ 1A2B ]", "Ost [ 3c4d ]", "Wagen [ 7A8B ]", "Karre [ 9C0D ]"}));
    QCOMPARE(combo->currentIndex(), 4);                 // the last tag
    QVERIFY(!rx->isChecked() && !tx->isChecked() && !on->isChecked() && !off->isChecked());

    // Nothing chosen, then only "an": the command is missing.
    findButton(&dialog, "btnSendCommand")->click();
    on->click();
    findButton(&dialog, "btnSendCommand")->click();
    QVERIFY(harness.commands.isEmpty());

    // "alle", TX LED, an; the choices stay.
    pnl->setCurrentIndex(0);
    tx->click();
    combo->setCurrentIndex(0);
    findButton(&dialog, "btnSendCommand")->click();
    QCOMPARE(harness.commands, QList<QByteArray>({"$PH,FFFF,1,1,\r\n"}));
    QCOMPARE(harness.looseFlags, QList<bool>({false}));
    QVERIFY(tx->isChecked() && on->isChecked());

    // A lower-case id goes out as stored; a failure is reported.
    combo->setCurrentIndex(2);
    rx->click();
    off->click();
    harness.answers = {false};
    findButton(&dialog, "btnSendCommand")->click();
    QCOMPARE(harness.commands.last(), QByteArray("$PH,3c4d,2,0,\r\n"));
    QCOMPARE(answerer.seen.size(), 4);
    QCOMPARE(boxOf(answerer.seen.at(0)), QStringList({title, missing, "Warning"}));
    QCOMPARE(boxOf(answerer.seen.at(1)), QStringList({title, missing, "Warning"}));
    QCOMPARE(boxOf(answerer.seen.at(2)), QStringList({title, "Befehl wurde ausgeführt", "Information"}));
    QCOMPARE(boxOf(answerer.seen.at(3)), QStringList({title, "Fehler: Befehl wurde nicht ausgeführt", "Warning"}));
    QCOMPARE(answerer.seen.at(3).buttonTexts.size(), 1);

    // Only "RX LED": the parameter is missing.
    CommandWin second(nullptr);
    Harness h2;
    h2.attach(&second);
    second.setModules(&setup);
    second.findChild<QRadioButton*>("rbRXLED")->click();
    findButton(&second, "btnSendCommand")->click();
    QCOMPARE(boxTexts(answerer, 4), QStringList({"Sie müssen die Parameter spezifizieren!"}));
    QVERIFY(h2.commands.isEmpty());

    // Without tags the last anchor is selected; without records "alle".
    ModuleSetup anchorsOnly;
    anchorsOnly.anchors = setup.anchors;
    CommandWin third(nullptr);
    third.setModules(&anchorsOnly);
    QCOMPARE(third.findChild<QComboBox*>("cmbModule")->currentText(), QString("Ost [ 3c4d ]"));
    ModuleSetup nothing;
    CommandWin fourth(nullptr);
    fourth.setModules(&nothing);
    QCOMPARE(comboTexts(fourth.findChild<QComboBox*>("cmbModule")), QStringList({"alle"}));
}

void TestDialogs::masterInfo()
{
    MasterInfo info;
    qint64 clock = 1700000000000LL;
    info.now = [&] { return clock; };
    const QString identity = "Master ID: 1A2B - Version: V2.3";
    const QString silent = "keine Verbindung";
    auto check = [&] { QVERIFY(QMetaObject::invokeMethod(&info, "checkAlive", Qt::DirectConnection)); };

    QCOMPARE(info.text(), QString());
    auto* timer = info.findChild<QTimer*>();
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 6000);

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
    info.masterPacket(QByteArray());
    QCOMPARE(info.text(), QString());

    // Only one value known: it shows alone.
    info.setMasterInfo("V1", "");
    QCOMPARE(info.text(), QString("V1"));
    info.setMasterInfo("", "  1A2B");
    QCOMPARE(info.text(), QString("1A2B"));
}

void TestDialogs::aboutWin()
{
    // Modal, as the main window runs it: OK and Escape both end exec().
    AboutWin about(nullptr);
    QTimer::singleShot(50, &about, [&] { findButton(&about, "btnOk")->click(); });
    about.exec();
    QVERIFY(!about.isVisible());
    QTimer::singleShot(50, &about, [&] { QTest::keyClick(&about, Qt::Key_Escape); });
    about.exec();
    QVERIFY(!about.isVisible());
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
