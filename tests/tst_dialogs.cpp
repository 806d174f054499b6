#include "aboutwin.h"
#include "commandwin.h"
#include "configcommand.h"
#include "discoverwin.h"
#include "masterinfo.h"
#include "modulesetup.h"
#include "qflatcombobox.h"
#include "tablecells.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <functional>

// Stands in for the main window: records each command a dialog asks for and
// answers it at once, inside the emit, as the real exchange does.
class Harness : public QObject
{
    Q_OBJECT
public:
    QList<QByteArray> commands;
    QList<bool> looseFlags;
    QList<bool> answers;            // consumed in order; defaultAnswer when empty
    bool defaultAnswer = true;
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
        bool ok = answers.isEmpty() ? defaultAnswer : answers.takeFirst();
        if (command.isEmpty())      // the main window refuses an empty command at once
            ok = false;
        emit commandResult(ok);
    }
};

namespace {

enum { ColId = 0, ColRole = 1, ColName = 2, ColX = 3, ColY = 4, ColZ = 5, ColColor = 6, ColPosAvg = 8,
       ColOffset = 14 };

QPushButton* button(QWidget* dialog, const char* name)
{
    auto* b = dialog->findChild<QPushButton*>(QLatin1String(name));
    if (!b)
        qFatal("button %s missing", name);
    return b;
}

QString text(QTableWidget* t, int row, int column)
{
    QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
}

void setText(QTableWidget* t, int row, int column, const QString& value)
{
    t->item(row, column)->setText(value);
}

QColor idBackground(QTableWidget* t, int row)
{
    return t->item(row, ColId)->data(Qt::BackgroundRole).value<QColor>();
}

QComboBox* roleCombo(QTableWidget* t, int row)
{
    QWidget* cell = t->cellWidget(row, ColRole);
    return cell ? cell->findChild<QComboBox*>() : nullptr;
}

void setRole(QTableWidget* t, int row, int role)
{
    QComboBox* combo = roleCombo(t, row);
    QVERIFY(combo);
    const int index = combo->findData(role);
    QVERIFY(index >= 0);
    combo->setCurrentIndex(index);
}

QStringList comboTexts(QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

QStringList idColumn(QTableWidget* t)
{
    QStringList ids;
    for (int row = 0; row < t->rowCount(); ++row)
        ids << text(t, row, ColId);
    return ids;
}

QList<QColor> idBackgrounds(QTableWidget* t)
{
    QList<QColor> colours;
    for (int row = 0; row < t->rowCount(); ++row)
        colours << idBackground(t, row);
    return colours;
}

// Master 1A2B, a further anchor 5E6F, one tag 7A8B.
ModuleSetup sampleSetup()
{
    ModuleSetup setup;
    setup.anchors << Anchor("1A2B", "Master", colorList.at(1), 100, 200, 30, true, 7)
                  << Anchor("5E6F", "Ost", colorList.at(3), 500, 0, 0, false, -4);
    setup.tags << Tag("7A8B", "Wagen", colorList.at(7), true, false, true, false, true, false, true);
    return setup;
}

void startDiscovery(DiscoverWin& dialog)
{
    button(&dialog, "btnStartDiscovery")->click();
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void configCommand();
    void discoveryTableAndForm();
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
    ModuleSetup setup;
    QCOMPARE(buildConfigCommand(setup), QString());     // no anchors at all
    setup.tags << Tag("7A8B", "t", Qt::black, false, true, false, false, false, false, false);
    QCOMPARE(buildConfigCommand(setup), QString());     // tags alone still need anchors

    setup = ModuleSetup();
    setup.anchors << Anchor("1A2B", "m", Qt::black, 0, 0, 0, true, 0);
    QCOMPARE(buildConfigCommand(setup).toLatin1(), QByteArray("$PK,1A2B,0,0,\r\n"));

    setup.anchors << Anchor("3C4D", "a", Qt::black, 0, 0, 0, false, 0)
                  << Anchor("5E6F", "b", Qt::black, 0, 0, 0, false, 0);
    setup.tags << Tag("7A8B", "t", Qt::black, false, true, false, false, false, false, false);
    QCOMPARE(buildConfigCommand(setup).toLatin1(), QByteArray("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n"));

    // Lower-case ids go out upper-cased; the records keep their text.
    ModuleSetup lower;
    lower.anchors << Anchor("ab12", "m", Qt::black, 0, 0, 0, true, 0)
                  << Anchor("cd34", "a", Qt::black, 0, 0, 0, false, 0);
    lower.tags << Tag("ef56", "t", Qt::black, false, false, false, false, false, false, false);
    QCOMPARE(buildConfigCommand(lower).toLatin1(), QByteArray("$PK,AB12,1,1,CD34,EF56,\r\n"));
    QCOMPARE(lower.anchors.at(0).id, QString("ab12"));

    // Duplicates are listed as often as they occur.
    ModuleSetup dup;
    dup.anchors << Anchor("1A2B", "m", Qt::black, 0, 0, 0, true, 0)
                << Anchor("3C4D", "a", Qt::black, 0, 0, 0, false, 0)
                << Anchor("3C4D", "b", Qt::black, 0, 0, 0, false, 0);
    QCOMPARE(buildConfigCommand(dup).toLatin1(), QByteArray("$PK,1A2B,2,0,3C4D,3C4D,\r\n"));

    // Several masters: the last one names the master; none is listed as a further anchor.
    ModuleSetup masters;
    masters.anchors << Anchor("1111", "m1", Qt::black, 0, 0, 0, true, 0)
                    << Anchor("3C4D", "a", Qt::black, 0, 0, 0, false, 0)
                    << Anchor("2222", "m2", Qt::black, 0, 0, 0, true, 0);
    QCOMPARE(buildConfigCommand(masters).toLatin1(), QByteArray("$PK,2222,2,0,3C4D,\r\n"));

    // No master at all (only possible for records that skipped the check).
    ModuleSetup none;
    none.anchors << Anchor("3C4D", "a", Qt::black, 0, 0, 0, false, 0);
    QCOMPARE(buildConfigCommand(none).toLatin1(), QByteArray("$PK,,0,0,3C4D,\r\n"));

    // Counts are upper-case hex without leading zeros.
    ModuleSetup many;
    many.anchors << Anchor("1A2B", "m", Qt::black, 0, 0, 0, true, 0);
    for (int i = 0; i < 11; ++i)
        many.anchors << Anchor(QString::number(0x100 + i, 16), "a", Qt::black, 0, 0, 0, false, 0);
    for (int i = 0; i < 26; ++i)
        many.tags << Tag(QString::number(0x200 + i, 16), "t", Qt::black, false, false, false, false, false,
                         false, false);
    const QByteArray cmd = buildConfigCommand(many).toLatin1();
    QVERIFY(cmd.startsWith("$PK,1A2B,B,1A,100,101,"));
    QVERIFY(cmd.endsWith(",219,\r\n"));

    // A '%' in an id is copied literally, not taken as a placeholder.
    ModuleSetup percent;
    percent.anchors << Anchor("%2", "m", Qt::black, 0, 0, 0, true, 0);
    QCOMPARE(buildConfigCommand(percent).toLatin1(), QByteArray("$PK,%2,0,0,\r\n"));
}

void TestDialogs::discoveryTableAndForm()
{
    // Records out of order: a further anchor before the master.
    ModuleSetup setup;
    setup.anchors << Anchor("5E6F", "Ost", colorList.at(3), 500, -20, 9, false, -4)
                  << Anchor("1A2B", "Master", colorList.at(1), 100, 200, 30, true, 7);
    setup.tags << Tag("7A8B", "Wagen", QColor(1, 2, 3), true, false, true, false, true, false, true);

    DiscoverWin dialog(nullptr);
    QCOMPARE(dialog.windowTitle(), QString("Module konfigurieren"));
    QCOMPARE(dialog.size(), QSize(737, 342));
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(button(&dialog, "btnStartDiscovery")->text(), QString("Erkennungsmodus starten"));
    QCOMPARE(button(&dialog, "btnResetConfiguration")->text(), QString("Konfiguration zurücksetzen"));
    QCOMPARE(button(&dialog, "addDummys")->text(), QString("manuell hinzufügen"));
    QCOMPARE(button(&dialog, "btnCancelDiscovery")->text(), QString("verwerfen"));
    QCOMPARE(button(&dialog, "btnFinishDiscovery")->text(), QString("übernehmen"));

    QTableWidget* t = dialog.table();
    QCOMPARE(t->objectName(), QString("tblModule"));
    QCOMPARE(t->columnCount(), 15);
    const QStringList headers = {"ID", "Typ", "Name", "X [cm]", "Y [cm]", "Z [cm]", "Farbe", "PosRAW",
                                 "PosAVG", "DistRAW", "DistAVG", "Coordinates", "Speed", "Rate", "Offset"};
    for (int c = 0; c < 15; ++c) {
        QCOMPARE(t->horizontalHeaderItem(c)->text(), headers.at(c));
        QCOMPARE(t->isColumnHidden(c), c == 5 || c >= 7);
    }
    QCOMPARE(t->columnWidth(0), 45);
    QCOMPARE(t->columnWidth(2), 120);
    QCOMPARE(t->columnWidth(3), 50);
    QCOMPARE(t->columnWidth(4), 50);
    QCOMPARE(t->columnWidth(6), 40);
    QVERIFY(!t->verticalHeader()->isVisible());
    QCOMPARE(t->selectionMode(), QAbstractItemView::NoSelection);

    dialog.setModules(&setup);
    QCOMPARE(idColumn(t), QStringList({"1A2B", "5E6F", "7A8B"}));    // master first, then anchors, tags

    // Master row: fixed role offering only "Master", id read-only.
    QCOMPARE(comboTexts(roleCombo(t, 0)), QStringList({"Master"}));
    QVERIFY(!roleCombo(t, 0)->isEnabled());
    QVERIFY(!(t->item(0, ColId)->flags() & Qt::ItemIsEditable));
    QCOMPARE(roleCellValue(t, 0, ColRole), int(RoleMaster));
    QCOMPARE(text(t, 0, ColX), QString("100"));
    QCOMPARE(text(t, 0, ColZ), QString("30"));
    QCOMPARE(text(t, 0, ColOffset), QString("7"));
    QCOMPARE(cellColor(t, 0, ColColor), colorList.at(1));

    // Other rows offer the three other roles in the map's key order.
    QCOMPARE(comboTexts(roleCombo(t, 1)), QStringList({"Anker", "Tag", "nicht nutzen"}));
    QVERIFY(roleCombo(t, 1)->isEnabled());
    QCOMPARE(roleCombo(t, 1)->currentText(), QString("Anker"));
    QVERIFY(t->item(1, ColId)->flags() & Qt::ItemIsEditable);
    QCOMPARE(text(t, 1, ColY), QString("-20"));
    QCOMPARE(text(t, 1, ColOffset), QString("-4"));

    QCOMPARE(roleCombo(t, 2)->currentText(), QString("Tag"));
    QCOMPARE(text(t, 2, ColX), QString("-"));
    QCOMPARE(text(t, 2, ColOffset), QString("0"));
    QCOMPARE(cellColor(t, 2, ColColor), QColor(1, 2, 3));   // a colour off the list is kept
    const bool flags[7] = {true, false, true, false, true, false, true};
    for (int i = 0; i < 7; ++i)
        QCOMPARE(isCellChecked(t, 2, 7 + i), flags[i]);

    for (int row = 0; row < 3; ++row)
        QCOMPARE(idBackground(t, row), QColor(Qt::red));

    // Picking a colour paints that combo with it.
    QWidget* cell = t->cellWidget(1, ColColor);
    auto* colour = cell->findChild<QFlatComboBox*>();
    QVERIFY(colour);
    colour->setCurrentIndex(9);
    QCOMPARE(colour->palette().color(QPalette::Window), colorList.at(9));
    QCOMPARE(colour->palette().color(QPalette::Base), colorList.at(9));
    QCOMPARE(cellColor(t, 1, ColColor), colorList.at(9));

    // Refilling replaces the rows.
    dialog.setModules(&setup);
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(setup.anchors.size(), 2);   // filling the table never writes the records
}

void TestDialogs::discoveryPackets()
{
    ModuleSetup setup;
    setup.anchors << Anchor("1A2B", "Master", colorList.at(1), 0, 0, 0, true, 0)
                  << Anchor("5E6F", "Ost", colorList.at(3), 0, 0, 0, false, 0);
    DiscoverWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    QTableWidget* t = dialog.table();
    ModalAnswerer answerer;

    // The master echoes "$PW,1": it is a 'W' line and arrives while the start is pending.
    harness.beforeAnswer = [&](const QByteArray& cmd) { dialog.discoverPacket(cmd); };
    startDiscovery(dialog);
    QCOMPARE(harness.commands, QList<QByteArray>({"$PW,1,\r\n"}));
    QCOMPARE(harness.looseFlags, QList<bool>({false}));
    QCOMPARE(dialog.currentState(), DiscoveryState::Discovering);
    QCOMPARE(t->rowCount(), 2);
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::red, Qt::red}));
    QCOMPARE(button(&dialog, "btnStartDiscovery")->text(), QString("Erkennungsmodus beenden"));
    QVERIFY(!button(&dialog, "btnResetConfiguration")->isEnabled());
    QVERIFY(!button(&dialog, "btnCancelDiscovery")->isEnabled());
    QVERIFY(!button(&dialog, "btnFinishDiscovery")->isEnabled());
    QVERIFY(button(&dialog, "addDummys")->isEnabled());

    // Both known modules heard.
    dialog.discoverPacket("$PW,0,1A2B,5E6F\r\n");
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::green, Qt::green}));

    // Fields 2, 3 = 1A2B, 3C4D: 5E6F red, 1A2B green, 3C4D new and green.
    dialog.discoverPacket("$PW,0,1A2B,3C4D\r\n");
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::green, Qt::red, Qt::green}));
    QCOMPARE(text(t, 2, ColId), QString("3C4D"));
    QVERIFY(t->item(2, ColId)->flags() & Qt::ItemIsEditable);
    QCOMPARE(roleCombo(t, 2)->currentText(), QString("nicht nutzen"));
    QCOMPARE(roleCellValue(t, 2, ColRole), int(RoleNotUsed));
    QVERIFY(roleCombo(t, 2)->isEnabled());
    QCOMPARE(text(t, 2, ColName), QString("3C4D"));
    QCOMPARE(text(t, 2, ColX), QString("0"));
    QCOMPARE(text(t, 2, ColY), QString("0"));
    QCOMPARE(text(t, 2, ColZ), QString("0"));
    QCOMPARE(text(t, 2, ColOffset), QString("0"));
    QCOMPARE(cellColor(t, 2, ColColor), colorList.at(2 % 11));
    for (int c = 7; c <= 13; ++c)
        QCOMPARE(isCellChecked(t, 2, c), c == ColPosAvg);

    // Identifiers: lower case in the packet is upper-cased; value 1, not hex, empty: no row.
    dialog.discoverPacket("$PW,0,1A2B,0001,XYZ,, ,3c4d,1\r\n");
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::green, Qt::red, Qt::green}));

    // Too short: ignored entirely, even while discovering.
    dialog.discoverPacket("$PW,1\r\n");
    dialog.discoverPacket("");
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::green, Qt::red, Qt::green}));

    // A different master id gives a second, fixed master row.
    dialog.discoverPacket("$PW,0,9999,1A2B\r\n");
    QCOMPARE(t->rowCount(), 4);
    QCOMPARE(text(t, 3, ColId), QString("9999"));
    QCOMPARE(roleCellValue(t, 3, ColRole), int(RoleMaster));
    QVERIFY(!roleCombo(t, 3)->isEnabled());
    QVERIFY(!(t->item(3, ColId)->flags() & Qt::ItemIsEditable));
    QCOMPARE(cellColor(t, 3, ColColor), colorList.at(3));
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::green, Qt::red, Qt::red, Qt::green}));

    // The echo of "$PW,0" arrives while the stop is pending and changes nothing.
    const QList<QColor> before = idBackgrounds(t);
    startDiscovery(dialog);
    QCOMPARE(harness.commands.last(), QByteArray("$PW,0,\r\n"));
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(idBackgrounds(t), before);
    QCOMPARE(t->rowCount(), 4);
    QCOMPARE(button(&dialog, "btnStartDiscovery")->text(), QString("Erkennungsmodus starten"));
    QVERIFY(button(&dialog, "btnFinishDiscovery")->isEnabled());

    // Outside discovery mode a packet still colours and adds, but marks nothing red.
    dialog.discoverPacket("$PW,0,1A2B,5E6F\r\n");
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::green, Qt::green, Qt::red, Qt::green}));

    // Neither master row can go, so the check refuses the table.
    const QList<Anchor> oldAnchors = setup.anchors;
    button(&dialog, "btnFinishDiscovery")->click();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.at(0).title, QString("Modulkonfiguration"));
    QCOMPARE(answerer.seen.at(0).text, QString("Sie müssen genau einen Master definieren!\n"));
    QCOMPARE(answerer.seen.at(0).icon, QMessageBox::Information);
    QCOMPARE(harness.commands.size(), 2);
    QCOMPARE(setup.anchors.size(), oldAnchors.size());
    QCOMPARE(setup.anchors.at(1).id, QString("5E6F"));

    // A row written in lower case does not match the upper-cased packet id.
    ModuleSetup lower;
    lower.anchors << Anchor("1A2B", "Master", Qt::black, 0, 0, 0, true, 0)
                  << Anchor("3c4d", "klein", Qt::black, 0, 0, 0, false, 0);
    DiscoverWin second(nullptr);
    Harness h2;
    h2.attach(&second);
    second.setModules(&lower);
    startDiscovery(second);
    second.discoverPacket("$PW,0,1A2B,3c4d\r\n");
    QCOMPARE(idColumn(second.table()), QStringList({"1A2B", "3c4d", "3C4D"}));
    QCOMPARE(idBackgrounds(second.table()), QList<QColor>({Qt::green, Qt::red, Qt::green}));
    QCOMPARE(answerer.seen.size(), 1);
}

void TestDialogs::discoveryHostilePackets()
{
    ModuleSetup setup = sampleSetup();
    DiscoverWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    startDiscovery(dialog);
    QTableWidget* t = dialog.table();

    // 100000 copies of known ids: nothing new, and quick.
    QByteArray same("$PW,0,1A2B");
    for (int i = 0; i < 100000; ++i)
        same += ",5E6F";
    same += "\r\n";
    QElapsedTimer timer;
    timer.start();
    dialog.discoverPacket(same);
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(idBackgrounds(t), QList<QColor>({Qt::green, Qt::green, Qt::red}));
    qInfo("100000 repeated ids: %lld ms", timer.elapsed());

    // 100000 distinct ids: the table stops growing at its bound.
    QByteArray distinct("$PW,0,1A2B");
    for (int i = 0; i < 100000; ++i)
        distinct += ',' + QByteArray::number(0x10000 + i, 16);
    distinct += "\r\n";
    timer.restart();
    dialog.discoverPacket(distinct);
    const qint64 distinctMs = timer.elapsed();
    qInfo("100000 distinct ids: %lld ms, %d rows", distinctMs, t->rowCount());
    QCOMPARE(t->rowCount(), DiscoverWin::maxDiscoveredRows);
    QVERIFY(distinctMs < 20000);
    QCOMPARE(text(t, 3, ColId), QString("10000"));
    // Known rows are still matched once the bound is reached.
    dialog.discoverPacket("$PW,0,1A2B,7A8B\r\n");
    QCOMPARE(idBackground(t, 2), QColor(Qt::green));
    QCOMPARE(idBackground(t, 1), QColor(Qt::red));

    // Garbage bytes, NULs, high bytes and stray commas do not upset it.
    QRandomGenerator rng(4711);
    for (int round = 0; round < 200; ++round) {
        QByteArray junk("$PW");
        const int n = int(rng.bounded(400));
        for (int i = 0; i < n; ++i) {
            const quint32 pick = rng.bounded(6);
            junk += pick == 0 ? char(',') : char(rng.bounded(256));
        }
        dialog.discoverPacket(junk);
    }
    QVERIFY(t->rowCount() <= DiscoverWin::maxDiscoveredRows);
    dialog.discoverPacket(QByteArray(",,,,,,,,,,"));
    dialog.discoverPacket(QByteArray("\xff\xfe,\x00,\x80\x81", 7));
    QCOMPARE(dialog.currentState(), DiscoveryState::Discovering);
}

void TestDialogs::startStopAndManualAdd()
{
    ModuleSetup setup = sampleSetup();
    DiscoverWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    ModalAnswerer answerer;

    harness.answers = {false};
    startDiscovery(dialog);
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.at(0).title, QString("Erkennungsmodus starten"));
    QCOMPARE(answerer.seen.at(0).text, QString("Der Erkennungsmodus konnte nicht initialisiert werden!"));
    QCOMPARE(answerer.seen.at(0).icon, QMessageBox::Warning);
    QCOMPARE(answerer.seen.at(0).buttonTexts.size(), 1);
    QCOMPARE(button(&dialog, "btnStartDiscovery")->text(), QString("Erkennungsmodus starten"));

    harness.answers = {true, false};
    startDiscovery(dialog);
    QCOMPARE(dialog.currentState(), DiscoveryState::Discovering);
    startDiscovery(dialog);
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen.at(1).title, QString("Erkennungsmodus beenden"));
    QCOMPARE(answerer.seen.at(1).text, QString("Der Erkennungsmodus konnte nicht beendet werden!"));
    QCOMPARE(harness.commands, QList<QByteArray>({"$PW,1,\r\n", "$PW,1,\r\n", "$PW,0,\r\n"}));
    QVERIFY(button(&dialog, "btnFinishDiscovery")->isEnabled());

    // Manual add copies the master's place, colour and offset.
    QTableWidget* t = dialog.table();
    button(&dialog, "addDummys")->click();
    QCOMPARE(t->rowCount(), 4);
    QCOMPARE(text(t, 3, ColId), QString("0"));
    QCOMPARE(text(t, 3, ColName), QString("0"));
    QCOMPARE(roleCombo(t, 3)->currentText(), QString("Anker"));
    QVERIFY(roleCombo(t, 3)->isEnabled());
    QCOMPARE(text(t, 3, ColX), QString("100"));
    QCOMPARE(text(t, 3, ColY), QString("200"));
    QCOMPARE(text(t, 3, ColZ), QString("30"));
    QCOMPARE(text(t, 3, ColOffset), QString("7"));
    QCOMPARE(cellColor(t, 3, ColColor), colorList.at(1));
    QCOMPARE(idBackground(t, 3), QColor(Qt::red));
    for (int c = 7; c <= 13; ++c)
        QVERIFY(!isCellChecked(t, 3, c));
    // Unreadable master position falls back to 0.
    setText(t, 0, ColX, "abc");
    button(&dialog, "addDummys")->click();
    QCOMPARE(text(t, 4, ColX), QString("0"));
    QCOMPARE(answerer.seen.size(), 2);

    // Without a master row there is nothing to copy.
    ModuleSetup noMaster;
    noMaster.anchors << Anchor("5E6F", "Ost", Qt::black, 0, 0, 0, false, 0);
    DiscoverWin lonely(nullptr);
    lonely.setModules(&noMaster);
    button(&lonely, "addDummys")->click();
    QCOMPARE(lonely.table()->rowCount(), 1);
    QCOMPARE(answerer.seen.size(), 3);
    QCOMPARE(answerer.seen.at(2).title, QString("Modul manuell hinzufügen"));
    QCOMPARE(answerer.seen.at(2).text, QString("Es wurde kein Masteranker gefunden!"));
    QCOMPARE(answerer.seen.at(2).icon, QMessageBox::Warning);
}

void TestDialogs::configurationCheck()
{
    ModalAnswerer answerer;

    // Two masters and five tags: one box, both lines, in order.
    {
        ModuleSetup setup;
        setup.anchors << Anchor("1A2B", "M1", Qt::black, 0, 0, 0, true, 0)
                      << Anchor("2B3C", "M2", Qt::black, 0, 0, 0, true, 0);
        for (int i = 0; i < 5; ++i)
            setup.tags << Tag(QString("7A8%1").arg(i), "T", Qt::black, false, true, false, false, false, false,
                              false);
        DiscoverWin dialog(nullptr);
        Harness harness;
        harness.attach(&dialog);
        dialog.setModules(&setup);
        button(&dialog, "btnFinishDiscovery")->click();
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen.last().title, QString("Modulkonfiguration"));
        QCOMPARE(answerer.seen.last().text,
                 QString("Sie müssen genau einen Master definieren!\nSie können maximal 4 Tags definieren!\n"));
        QCOMPARE(answerer.seen.last().buttonTexts.size(), 1);
        QVERIFY(harness.commands.isEmpty());
        QCOMPARE(setup.tags.size(), 5);
        QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    }

    // Every line at once, in order; no master at all also counts.
    {
        ModuleSetup setup;
        for (int i = 0; i < 4; ++i)
            setup.anchors << Anchor(QString::number(0x10 + i, 16), "A", Qt::black, 0, 0, 0, false, 0);
        for (int i = 0; i < 5; ++i)
            setup.tags << Tag(QString::number(0x20 + i, 16), "T", Qt::black, false, true, false, false, false,
                              false, false);
        DiscoverWin dialog(nullptr);
        Harness harness;
        harness.attach(&dialog);
        dialog.setModules(&setup);
        setText(dialog.table(), 0, ColId, "XYZ");
        setText(dialog.table(), 1, ColName, "");
        button(&dialog, "btnFinishDiscovery")->click();
        QCOMPARE(answerer.seen.size(), 2);
        QCOMPARE(answerer.seen.last().text,
                 QString("Sie müssen genau einen Master definieren!\n"
                         "Sie können maximal 3 Slave-Anker definieren!\n"
                         "Sie können maximal 4 Tags definieren!\n"
                         "Mindestens eine ID ist keine gültige HEX-Zahl!\n"
                         "Mindestens ein Name ist ungültig oder leer!\n"));
        QVERIFY(harness.commands.isEmpty());
    }

    // Single faults, each blocking on its own, whatever the row's role.
    struct Case {
        const char* what;
        int column;
        QString value;
        int role;
        QString expected;
    };
    const QList<Case> cases = {
        {"blank name on an unused row", ColName, "   ", RoleNotUsed, "Mindestens ein Name ist ungültig oder leer!\n"},
        {"empty name", ColName, "", RoleAnchor, "Mindestens ein Name ist ungültig oder leer!\n"},
        {"id not hex", ColId, "12G4", RoleTag, "Mindestens eine ID ist keine gültige HEX-Zahl!\n"},
        {"id blank", ColId, "  ", RoleNotUsed, "Mindestens eine ID ist keine gültige HEX-Zahl!\n"},
        {"id too large for an int", ColId, "123456789", RoleAnchor,
         "Mindestens eine ID ist keine gültige HEX-Zahl!\n"},
    };
    for (const Case& c : cases) {
        ModuleSetup setup = sampleSetup();
        DiscoverWin dialog(nullptr);
        Harness harness;
        harness.attach(&dialog);
        dialog.setModules(&setup);
        setRole(dialog.table(), 1, c.role);
        setText(dialog.table(), 1, c.column, c.value);
        const int boxes = answerer.seen.size();
        button(&dialog, "btnFinishDiscovery")->click();
        QVERIFY2(answerer.seen.size() == boxes + 1, c.what);
        QVERIFY2(answerer.seen.last().text == c.expected, c.what);
        QVERIFY2(harness.commands.isEmpty(), c.what);
        QCOMPARE(setup.anchors.at(1).name, QString("Ost"));
    }

    // Three further anchors and four tags are the limit, not over it; unused rows do not count.
    {
        ModuleSetup setup;
        setup.anchors << Anchor("1A2B", "M", Qt::black, 0, 0, 0, true, 0);
        for (int i = 0; i < 3; ++i)
            setup.anchors << Anchor(QString::number(0x10 + i, 16), "A", Qt::black, 0, 0, 0, false, 0);
        for (int i = 0; i < 6; ++i)
            setup.tags << Tag(QString::number(0x20 + i, 16), "T", Qt::black, false, true, false, false, false,
                              false, false);
        DiscoverWin dialog(nullptr);
        Harness harness;
        harness.attach(&dialog);
        dialog.setModules(&setup);
        setRole(dialog.table(), 8, RoleNotUsed);
        setRole(dialog.table(), 9, RoleNotUsed);
        const int boxes = answerer.seen.size();
        button(&dialog, "btnFinishDiscovery")->click();
        QCOMPARE(answerer.seen.size(), boxes);
        QCOMPARE(harness.commands, QList<QByteArray>({"$PK,1A2B,3,4,10,11,12,20,21,22,23,\r\n"}));
        QCOMPARE(setup.tags.size(), 4);
    }
}

void TestDialogs::upload()
{
    ModalAnswerer answerer;
    ModuleSetup setup = sampleSetup();
    setup.tags[0].rawX = 12;            // measurement state that a rebuild must clear
    DiscoverWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    QTableWidget* t = dialog.table();

    // Discover two more modules and give them roles.
    startDiscovery(dialog);
    dialog.discoverPacket("$PW,0,1A2B,3C4D,9abc\r\n");
    startDiscovery(dialog);
    QCOMPARE(idColumn(t), QStringList({"1A2B", "5E6F", "7A8B", "3C4D", "9ABC"}));
    setRole(t, 3, RoleTag);
    setRole(t, 4, RoleAnchor);
    setText(t, 4, ColId, "9abc");             // the user types it in lower case
    setText(t, 4, ColName, "  Nord");         // leading blanks are a valid name, kept as typed
    setText(t, 4, ColX, "12a");               // not a number
    setText(t, 4, ColY, " 250 ");
    setText(t, 4, ColZ, "");
    setText(t, 4, ColOffset, "-3");
    setText(t, 1, ColId, "9ABC");             // the same module twice passes the check

    ModuleSetup during;
    harness.beforeAnswer = [&](const QByteArray&) { during = setup; };
    harness.answers = {false};
    button(&dialog, "btnFinishDiscovery")->click();

    // Records were replaced before the answer came.
    QCOMPARE(harness.commands.last(), QByteArray("$PK,1A2B,2,2,9ABC,9ABC,7A8B,3C4D,\r\n"));
    QCOMPARE(harness.looseFlags.last(), false);
    QCOMPARE(during.anchors.size(), 3);
    QCOMPARE(during.anchors.at(0).id, QString("1A2B"));
    QVERIFY(during.anchors.at(0).master);
    QCOMPARE(during.anchors.at(0).x, 100);
    QCOMPARE(during.anchors.at(0).offset, 7);
    QCOMPARE(during.anchors.at(0).color, colorList.at(1));
    QCOMPARE(during.anchors.at(2).id, QString("9abc"));
    QCOMPARE(during.anchors.at(2).name, QString("  Nord"));
    QCOMPARE(during.anchors.at(2).x, 0);
    QCOMPARE(during.anchors.at(2).y, 250);
    QCOMPARE(during.anchors.at(2).z, 0);
    QCOMPARE(during.anchors.at(2).offset, -3);
    QVERIFY(!during.anchors.at(2).master);
    QCOMPARE(during.anchors.at(2).color, colorList.at(4));
    QCOMPARE(during.tags.size(), 2);
    const Tag& wagen = during.tags.at(0);
    QCOMPARE(wagen.id, QString("7A8B"));
    QVERIFY(wagen.showPosRaw && !wagen.showPosAvg && wagen.showDistRaw && !wagen.showDistAvg);
    QVERIFY(wagen.showCoordinates && !wagen.showSpeed && wagen.showRate);
    QCOMPARE(wagen.rawX, Tag::NoPosition);
    QCOMPARE(during.tags.at(1).id, QString("3C4D"));
    QVERIFY(during.tags.at(1).showPosAvg && !during.tags.at(1).showPosRaw);

    // The failure warns and keeps the replaced records.
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.last().title, QString("Konfiguration übernehmen"));
    QCOMPARE(answerer.seen.last().text, QString("Die Konfiguration konnte nicht übernommen werden!"));
    QCOMPARE(answerer.seen.last().icon, QMessageBox::Warning);
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(setup.anchors.size(), 3);
    QCOMPARE(setup.tags.size(), 2);
    QVERIFY(button(&dialog, "btnFinishDiscovery")->isEnabled());

    // Pressing again succeeds and ends the dialog.
    harness.beforeAnswer = nullptr;
    setRole(t, 3, RoleNotUsed);
    button(&dialog, "btnFinishDiscovery")->click();
    QCOMPARE(harness.commands.last(), QByteArray("$PK,1A2B,2,1,9ABC,9ABC,7A8B,\r\n"));
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(setup.tags.size(), 1);

    // After a reset the failure warning says the master is in an undefined state.
    ModuleSetup other = sampleSetup();
    DiscoverWin resetDialog(nullptr);
    Harness h2;
    h2.attach(&resetDialog);
    resetDialog.setModules(&other);
    answerer.answer(QMessageBox::Ok);
    h2.answers = {true, false};
    button(&resetDialog, "btnResetConfiguration")->click();
    QCOMPARE(resetDialog.table()->rowCount(), 1);
    button(&resetDialog, "btnFinishDiscovery")->click();
    QCOMPARE(h2.commands, QList<QByteArray>({"$PL,\r\n", "$PK,1A2B,0,0,\r\n"}));
    QCOMPARE(answerer.seen.size(), 3);
    QCOMPARE(answerer.seen.last().title, QString("Konfiguration übernehmen"));
    QCOMPARE(answerer.seen.last().text,
             QString("Die Konfiguration konnte nicht übernommen werden!\nAchtung, die Daten auf dem Master "
                     "befinden sich in undefiniertem Zustand, die Module müssen neu erfasst werden!"));
    QCOMPARE(other.anchors.size(), 1);
    QVERIFY(other.tags.isEmpty());

    // A discard now re-sends the replaced records, not the ones the dialog started from.
    button(&resetDialog, "btnCancelDiscovery")->click();
    QCOMPARE(h2.commands.last(), QByteArray("$PK,1A2B,0,0,\r\n"));
    QCOMPARE(resetDialog.result(), int(QDialog::Rejected));
}

void TestDialogs::resetAndDiscard()
{
    ModalAnswerer answerer;

    // Discard without a reset rejects at once: no command, no question.
    {
        ModuleSetup setup = sampleSetup();
        DiscoverWin dialog(nullptr);
        Harness harness;
        harness.attach(&dialog);
        dialog.setModules(&setup);
        dialog.show();
        QVERIFY(dialog.isVisible());
        button(&dialog, "btnCancelDiscovery")->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(harness.commands.isEmpty());
        QVERIFY(answerer.seen.isEmpty());
    }

    ModuleSetup setup = sampleSetup();
    DiscoverWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    QTableWidget* t = dialog.table();
    dialog.discoverPacket("$PW,0,1A2B,4444\r\n");       // an extra unused row
    QCOMPARE(t->rowCount(), 4);

    // Cancel at the question: nothing happens.
    answerer.answer(QMessageBox::Cancel);
    button(&dialog, "btnResetConfiguration")->click();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.at(0).title, QString("Module erkennen"));
    QCOMPARE(answerer.seen.at(0).text,
             QString("Achtung:\nAlle getroffenen Einstellungen bzgl Tags und Anker werden hiermit gelöscht!\n"
                     "Das kann nicht rückgängig gemacht werden!"));
    QCOMPARE(answerer.seen.at(0).icon, QMessageBox::Question);
    QCOMPARE(answerer.seen.at(0).buttonTexts.size(), 2);
    QVERIFY(harness.commands.isEmpty());
    QCOMPARE(t->rowCount(), 4);

    // A failed reset keeps the rows but still counts as a reset.
    answerer.answer(QMessageBox::Ok);
    harness.answers = {false};
    button(&dialog, "btnResetConfiguration")->click();
    QCOMPARE(harness.commands, QList<QByteArray>({"$PL,\r\n"}));
    QCOMPARE(harness.looseFlags, QList<bool>({true}));
    QCOMPARE(answerer.seen.size(), 3);
    QCOMPARE(answerer.seen.at(2).title, QString("Konfiguration zurücksetzen"));
    QCOMPARE(answerer.seen.at(2).text, QString("Befehl konnte nicht ausgeführt werden!"));
    QCOMPARE(t->rowCount(), 4);
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);

    // A successful reset leaves only the master rows.
    answerer.answer(QMessageBox::Ok);
    button(&dialog, "btnResetConfiguration")->click();
    QCOMPARE(answerer.seen.size(), 4);
    QCOMPARE(idColumn(t), QStringList({"1A2B"}));
    QCOMPARE(roleCellValue(t, 0, ColRole), int(RoleMaster));
    QCOMPARE(setup.anchors.size(), 2);                  // the records are untouched

    // Discard re-sends the records; a failure keeps the dialog open.
    harness.answers = {false};
    button(&dialog, "btnCancelDiscovery")->click();
    QCOMPARE(harness.commands.last(), QByteArray("$PK,1A2B,1,1,5E6F,7A8B,\r\n"));
    QCOMPARE(harness.looseFlags.last(), false);
    QCOMPARE(answerer.seen.size(), 5);
    QCOMPARE(answerer.seen.last().title, QString("Konfiguration verwerfen"));
    QCOMPARE(answerer.seen.last().text, QString("Die Konfiguration konnte nicht zurückgesetzt werden!"));
    QCOMPARE(dialog.currentState(), DiscoveryState::Idle);
    QVERIFY(button(&dialog, "btnCancelDiscovery")->isEnabled());

    dialog.show();
    button(&dialog, "btnCancelDiscovery")->click();
    QCOMPARE(harness.commands.size(), 4);
    QCOMPARE(harness.commands.last(), QByteArray("$PK,1A2B,1,1,5E6F,7A8B,\r\n"));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(answerer.seen.size(), 5);

    // Restoring with no anchors at all: the empty command fails.
    ModuleSetup empty;
    DiscoverWin bare(nullptr);
    Harness h2;
    h2.attach(&bare);
    bare.setModules(&empty);
    answerer.answer(QMessageBox::Ok);
    button(&bare, "btnResetConfiguration")->click();
    button(&bare, "btnCancelDiscovery")->click();
    QCOMPARE(h2.commands, QList<QByteArray>({"$PL,\r\n", QByteArray()}));
    QCOMPARE(answerer.seen.size(), 7);
    QCOMPARE(answerer.seen.last().text, QString("Die Konfiguration konnte nicht zurückgesetzt werden!"));
}

void TestDialogs::closeQuestions()
{
    ModalAnswerer answerer;
    ModuleSetup setup = sampleSetup();
    DiscoverWin dialog(nullptr);
    Harness harness;
    harness.attach(&dialog);
    dialog.setModules(&setup);
    dialog.show();
    startDiscovery(dialog);
    QCOMPARE(dialog.currentState(), DiscoveryState::Discovering);

    // OK at the first box refuses the close.
    answerer.answer(QMessageBox::Ok);
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen.at(0).title, QString("Konfiguration verwerfen"));
    QCOMPARE(answerer.seen.at(0).text, QString("Bitte beenden Sie erst den Erkennungsmodus!"));
    QCOMPARE(answerer.seen.at(0).icon, QMessageBox::Warning);
    QCOMPARE(answerer.seen.at(0).buttonTexts.size(), 2);

    // Ignore, then Cancel at the question: still open.
    answerer.answer(QMessageBox::Ignore);
    answerer.answer(QMessageBox::Cancel);
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());
    QCOMPARE(answerer.seen.size(), 3);
    QCOMPARE(answerer.seen.at(2).title, QString("Konfiguration verwerfen"));
    QCOMPARE(answerer.seen.at(2).text,
             QString("Achtung:\nAlle geänderten Einstellungen bzgl Tags und Anker werden verworfen!"));
    QCOMPARE(answerer.seen.at(2).icon, QMessageBox::Question);

    // Escape asks the same questions instead of slipping past them.
    answerer.answer(QMessageBox::Ok);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QCOMPARE(answerer.seen.size(), 4);
    QCOMPARE(answerer.seen.at(3).text, QString("Bitte beenden Sie erst den Erkennungsmodus!"));

    // Ignore, then OK: closed, and the master is left in discovery mode.
    answerer.answer(QMessageBox::Ignore);
    answerer.answer(QMessageBox::Ok);
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(answerer.seen.size(), 6);
    QCOMPARE(harness.commands, QList<QByteArray>({"$PW,1,\r\n"}));
    QCOMPARE(setup.anchors.size(), 2);

    // In Idle only the question is asked; Escape leads to it too.
    ModuleSetup other = sampleSetup();
    DiscoverWin idle(nullptr);
    idle.setModules(&other);
    idle.show();
    answerer.answer(QMessageBox::Cancel);
    QTest::keyClick(&idle, Qt::Key_Escape);
    QVERIFY(idle.isVisible());
    QCOMPARE(answerer.seen.size(), 7);
    QCOMPARE(answerer.seen.last().icon, QMessageBox::Question);
    answerer.answer(QMessageBox::Ok);
    QTest::keyClick(&idle, Qt::Key_Escape);
    QVERIFY(!idle.isVisible());
    QCOMPARE(idle.result(), int(QDialog::Rejected));
    QCOMPARE(answerer.seen.size(), 8);

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

    auto fresh = [&](CommandWin& w, Harness& h) {
        h.attach(&w);
        w.setModules(&setup);
    };

    CommandWin dialog(nullptr);
    Harness harness;
    fresh(dialog, harness);
    QCOMPARE(dialog.windowTitle(), QString("Befehl senden"));
    QCOMPARE(dialog.size(), QSize(343, 202));
    auto* combo = dialog.findChild<QComboBox*>("cmbModule");
    auto* pnl = dialog.findChild<QStackedWidget*>("pnlOptions");
    auto* rx = dialog.findChild<QRadioButton*>("rbRXLED");
    auto* tx = dialog.findChild<QRadioButton*>("rbTXLED");
    auto* on = dialog.findChild<QRadioButton*>("rbLEDon");
    auto* off = dialog.findChild<QRadioButton*>("rbLEDoff");
    QVERIFY(combo && pnl && rx && tx && on && off);
    QCOMPARE(comboTexts(combo),
             QStringList({"alle", "Master [ 1A2B ]", "Ost [ 3c4d ]", "Wagen [ 7A8B ]", "Karre [ 9C0D ]"}));
    QStringList data;
    for (int i = 0; i < combo->count(); ++i)
        data << combo->itemData(i, Qt::UserRole).toString();
    QCOMPARE(data, QStringList({"FFFF", "1A2B", "3c4d", "7A8B", "9C0D"}));
    QCOMPARE(combo->currentIndex(), 4);                 // the last tag
    QCOMPARE(pnl->currentWidget()->objectName(), QString("page_LED"));
    QVERIFY(!rx->isChecked() && !tx->isChecked() && !on->isChecked() && !off->isChecked());
    QVERIFY(rx->isEnabled() && tx->isEnabled());

    // Nothing chosen, then only "an": the command is missing.
    button(&dialog, "btnSendCommand")->click();
    on->click();
    button(&dialog, "btnSendCommand")->click();
    QCOMPARE(answerer.seen.size(), 2);
    for (const auto& s : answerer.seen) {
        QCOMPARE(s.title, QString("Befehl senden"));
        QCOMPARE(s.text, QString("Sie müssen zuerst einen Befehl auswählen!"));
        QCOMPARE(s.icon, QMessageBox::Warning);
    }
    QVERIFY(harness.commands.isEmpty());

    // "alle", TX LED, an.
    pnl->setCurrentIndex(0);
    tx->click();
    QCOMPARE(pnl->currentWidget()->objectName(), QString("page_LED"));
    combo->setCurrentIndex(0);
    button(&dialog, "btnSendCommand")->click();
    QCOMPARE(harness.commands, QList<QByteArray>({"$PH,FFFF,1,1,\r\n"}));
    QCOMPARE(harness.looseFlags, QList<bool>({false}));
    QCOMPARE(answerer.seen.size(), 3);
    QCOMPARE(answerer.seen.last().title, QString("Befehl senden"));
    QCOMPARE(answerer.seen.last().text, QString("Befehl wurde ausgeführt"));
    QCOMPARE(answerer.seen.last().icon, QMessageBox::Information);
    QVERIFY(tx->isChecked() && on->isChecked());        // choices stay

    // A lower-case id goes out as stored; a failure is reported.
    combo->setCurrentIndex(2);
    rx->click();
    off->click();
    harness.answers = {false};
    button(&dialog, "btnSendCommand")->click();
    QCOMPARE(harness.commands.last(), QByteArray("$PH,3c4d,2,0,\r\n"));
    QCOMPARE(answerer.seen.size(), 4);
    QCOMPARE(answerer.seen.last().title, QString("Befehl senden"));
    QCOMPARE(answerer.seen.last().text, QString("Fehler: Befehl wurde nicht ausgeführt"));
    QCOMPARE(answerer.seen.last().icon, QMessageBox::Warning);
    QCOMPARE(answerer.seen.last().buttonTexts.size(), 1);

    // Only "RX LED": the parameter is missing.
    CommandWin second(nullptr);
    Harness h2;
    fresh(second, h2);
    second.findChild<QRadioButton*>("rbRXLED")->click();
    button(&second, "btnSendCommand")->click();
    QCOMPARE(answerer.seen.size(), 5);
    QCOMPARE(answerer.seen.last().text, QString("Sie müssen die Parameter spezifizieren!"));
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
    QCOMPARE(fourth.findChild<QComboBox*>("cmbModule")->currentText(), QString("alle"));
}

void TestDialogs::masterInfo()
{
    MasterInfo info;
    qint64 clock = 1700000000000LL;
    info.now = [&] { return clock; };
    auto check = [&] { QVERIFY(QMetaObject::invokeMethod(&info, "checkAlive", Qt::DirectConnection)); };

    QCOMPARE(info.text(), QString());
    auto* timer = info.findChild<QTimer*>();
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 6000);
    QVERIFY(timer->isActive());

    // Nothing heard since start: silent.
    check();
    QCOMPARE(info.text(), QString("keine Verbindung"));

    info.masterPacket("$PX,1A2B,V2.3\r\n");
    QCOMPARE(info.text(), QString("Master ID: 1A2B - Version: V2.3"));
    clock += 5000;
    check();
    QCOMPARE(info.text(), QString("Master ID: 1A2B - Version: V2.3"));
    clock += 1;
    check();
    QCOMPARE(info.text(), QString("keine Verbindung"));

    // Any packet brings the identity back at the next check.
    info.touch();
    QCOMPARE(info.text(), QString("keine Verbindung"));
    check();
    QCOMPARE(info.text(), QString("Master ID: 1A2B - Version: V2.3"));

    // A clock that went back is not silence.
    clock -= 100000;
    check();
    QCOMPARE(info.text(), QString("Master ID: 1A2B - Version: V2.3"));
    clock += 100000;

    // A short 'X' line clears the identity and is not a sign of life.
    info.masterPacket("$PX,1A2B\r\n");
    QCOMPARE(info.text(), QString());
    clock += 5001;
    check();
    QCOMPARE(info.text(), QString("keine Verbindung"));
    info.masterPacket(QByteArray());
    QCOMPARE(info.text(), QString());

    // Only one value known: it shows alone.
    info.setMasterInfo("V1", "");
    QCOMPARE(info.text(), QString("V1"));
    info.setMasterInfo("", "  1A2B");
    QCOMPARE(info.text(), QString("1A2B"));
    info.setMasterInfo("", "");
    QCOMPARE(info.text(), QString());

    // Extra fields are ignored; fields are trimmed.
    info.masterPacket("$PX, 3C4D , 1.0 ,extra\r\n");
    QCOMPARE(info.text(), QString("Master ID: 3C4D - Version: 1.0"));
}

void TestDialogs::aboutWin()
{
    {
        AboutWin about(nullptr);
        QCOMPARE(about.windowTitle(), QString("About..."));
        QCOMPARE(about.size(), QSize(217, 116));
        QCOMPARE(about.findChild<QLabel*>("label_2")->text(), QString("DW1000 HRP Orvane V1.1 Demo"));
        QVERIFY(about.findChild<QLabel*>("label")->text().contains("Fenwright"));
        about.show();
        button(&about, "btnOk")->click();
        QVERIFY(!about.isVisible());
    }
    // Modal, as the main window runs it: OK and Escape both end exec().
    QPointer<AboutWin> about = new AboutWin(nullptr);
    QTimer::singleShot(50, about, [&] { button(about, "btnOk")->click(); });
    about->exec();
    QVERIFY(!about->isVisible());
    delete about;
    AboutWin again(nullptr);
    QTimer::singleShot(50, &again, [&] { QTest::keyClick(&again, Qt::Key_Escape); });
    again.exec();
    QVERIFY(!again.isVisible());
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
