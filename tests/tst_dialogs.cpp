#include "commandwin.h"
#include "discoverwin.h"
#include "qflatcombobox.h"
#include "rolecells.h"
#include "tablecells.h"
#include "testsupport.h"

#include <QLabel>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>

// Stands in for the main window: records each command a dialog asks for and
// answers it inside the emit, as the real exchange does.
class Harness : public QObject
{
    Q_OBJECT
public:
    QList<QByteArray> commands;
    QList<bool> answers;   // consumed in order; true when empty
    std::function<void(const QByteArray&)> beforeAnswer;
    template <class Dialog>
    explicit Harness(Dialog* dialog)
    {
        connect(dialog, &Dialog::executeCommand, this, &Harness::executeCommand);
        connect(this, &Harness::commandResult, dialog, &Dialog::commandResult);
    }
signals:
    void commandResult(bool ok);
private slots:
    void executeCommand(QByteArray command, bool loose)
    {
        commands << command + (loose ? " (loose)" : "");
        if (beforeAnswer)
            beforeAnswer(command);
        emit commandResult((answers.isEmpty() || answers.takeFirst()) && !command.isEmpty());
    }
};

namespace {

enum { ColId = 0, ColRole = 1, ColName = 2, ColX = 3, ColY = 4, ColColor = 6, ColOffset = 14 };

// A discovery dialog on records, its commands answered by a harness.
struct Discovery {
    DiscoverWin dialog{nullptr};
    Harness harness{&dialog};
    explicit Discovery(ModuleSetup* setup) { dialog.setModules(setup); }
    void click(const char* name) { findButton(&dialog, name)->click(); }
    void set(int row, int column, const QString& text) { dialog.table()->item(row, column)->setText(text); }
    void setRole(int row, int role)
    {
        auto* combo = dialog.table()->cellWidget(row, ColRole)->findChild<QComboBox*>();
        combo->setCurrentIndex(combo->findData(role));
    }
    // Ids with their lights: '+' heard (green), '-' not heard (red).
    QString rows()
    {
        QStringList out;
        for (int r = 0; r < dialog.table()->rowCount(); ++r) {
            const QColor c = dialog.table()->item(r, ColId)->data(Qt::BackgroundRole).value<QColor>();
            out << dialog.table()->item(r, ColId)->text() + (c == Qt::green ? "+" : c == Qt::red ? "-" : "?");
        }
        return out.join(' ');
    }
};

const QString NoMaster = "Sie müssen genau einen Master definieren!\n";

} // namespace

// The discovery and command dialogs on their own (through the main window and against the stand-in: tst_sim).
class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void discoveryPackets();
    void configurationCheck_data();
    void configurationCheck();
    void upload();
    void resetAndRestore();
    void closeWhileDiscovering();
    void commandDialog();
};

void TestDialogs::discoveryPackets()
{
    ModalAnswerer boxes;
    ModuleSetup setup = setupOf("1A2B* 5E6F");
    Discovery d(&setup);
    QCOMPARE(d.rows(), QString("1A2B- 5E6F-"));
    // The master's echo of "$PW,1" is a 'W' line arriving while the start is pending.
    d.harness.beforeAnswer = [&](const QByteArray& cmd) { d.dialog.discoverPacket(cmd); };
    d.click("btnStartDiscovery");
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Discovering);
    // Heard modules light up, new ones come upper-cased and unused; values below 2,
    // no hex number, empty fields and short lines add nothing.
    d.dialog.discoverPacket("$PW,0,1A2B,5E6F\r\n");
    QCOMPARE(d.rows(), QString("1A2B+ 5E6F+"));
    for (const QByteArray& p : {QByteArray("$PW,0,1A2B,3c4d,0001,XYZ,, \r\n"), QByteArray("$PW,1\r\n"), QByteArray()})
        d.dialog.discoverPacket(p);
    QCOMPARE(d.rows(), QString("1A2B+ 5E6F- 3C4D+"));
    QVERIFY(roleCellValue(d.dialog.table(), 2, ColRole) == RoleNotUsed && d.dialog.table()->item(2, ColName)->text() == "3C4D");
    // Another master id in field 2 gives a second, fixed master row, which the check refuses.
    d.dialog.discoverPacket("$PW,0,9999,1A2B\r\n");
    QCOMPARE(roleCellValue(d.dialog.table(), 3, ColRole), int(RoleMaster));
    d.click("btnStartDiscovery");
    QCOMPARE(d.dialog.currentState(), DiscoveryState::Idle);
    d.click("btnFinishDiscovery");
    QCOMPARE(boxes.seen, QStringList({"Modulkonfiguration|" + NoMaster + "|Information"}));
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PW,1,\r\n", "$PW,0,\r\n"}));

    // A flood of distinct ids stops at the table's bound; known rows still light up.
    Discovery flood(&setup);
    flood.click("btnStartDiscovery");
    QByteArray ids = "$PW,0,1A2B";
    for (int i = 0; i < 1000; ++i)
        ids += ',' + QByteArray::number(0x10000 + i, 16);
    flood.dialog.discoverPacket(ids + "\r\n");
    QCOMPARE(flood.dialog.table()->rowCount(), DiscoverWin::maxDiscoveredRows);
    flood.dialog.discoverPacket("$PW,0,5E6F\r\n");
    QCOMPARE(flood.rows().left(12), QString("1A2B- 5E6F+ "));
}

void TestDialogs::configurationCheck_data()
{
    QTest::addColumn<QString>("anchors");
    QTest::addColumn<QString>("tags");
    QTest::addColumn<QString>("edit");       // "row,column,text" or "row,role=n"
    QTest::addColumn<QString>("outcome");    // the box's text, or the command sent
    const QString badId = "Mindestens eine ID ist keine gültige HEX-Zahl!\n";
    QTest::newRow("everything wrong at once") << "10 11 12 13" << "20 21 22 23 24" << "0,0,XYZ"
        << NoMaster + "Sie können maximal 3 Slave-Anker definieren!\nSie können maximal 4 Tags definieren!\n" + badId;
    QTest::newRow("blank name") << "1A2B* 10" << "" << "1,2,   " << "Mindestens ein Name ist ungültig oder leer!\n";
    QTest::newRow("no hex id") << "1A2B* 10" << "" << "1,0,12G4" << badId;
    QTest::newRow("id too large") << "1A2B* 10" << "" << "1,0,123456789" << badId;
    QTest::newRow("four further anchors") << "1A2B* 10 11 12 13" << "" << "" << "Sie können maximal 3 Slave-Anker definieren!\n";
    QTest::newRow("at the limits") << "1A2B* 10 11 12" << "20 21 22 23 24" << "8,role=0" << "$PK,1A2B,3,4,10,11,12,20,21,22,23,\r\n";
    QTest::newRow("typed id goes out upper-cased") << "1A2B* 10" << "" << "1,0,9abc" << "$PK,1A2B,1,0,9ABC,\r\n";
}

void TestDialogs::configurationCheck()
{
    QFETCH(QString, anchors);
    QFETCH(QString, tags);
    QFETCH(QString, edit);
    ModalAnswerer boxes;
    ModuleSetup setup = setupOf(anchors, tags);
    Discovery d(&setup);
    const QStringList e = edit.split(',');
    if (e.value(1).startsWith("role="))
        d.setRole(e[0].toInt(), e[1].mid(5).toInt());
    else if (!edit.isEmpty())
        d.set(e[0].toInt(), e[1].toInt(), e[2]);
    d.click("btnFinishDiscovery");
    QTEST(d.harness.commands.isEmpty() ? boxes.texts().value(0) : QString(d.harness.commands.value(0)), "outcome");
}

void TestDialogs::upload()
{
    ModalAnswerer boxes;
    ModuleSetup setup = setupOf("1A2B* 5E6F", "7A8B");
    setup.anchors[1] = Anchor("5E6F", "Ost", colorList.at(3), 500, 0, 0, false, -4);
    setup.tags[0].rawX = 12;   // measurement state, which a rebuild clears
    Discovery d(&setup);
    d.dialog.discoverPacket("$PW,0,1A2B,3C4D,9ABC\r\n");
    // Modules found now have no position yet, and a colour that is not black.
    for (int row : {3, 4})
        QVERIFY(d.dialog.table()->item(row, ColX)->text() == "-"
                && cellColor(d.dialog.table(), row, ColColor) != QColor(Qt::black));
    d.setRole(3, RoleTag);
    d.setRole(4, RoleAnchor);
    d.set(4, ColName, "  Nord");   // leading blanks are a name, kept as typed
    d.set(4, ColX, "12a");         // no number: 0
    d.set(4, ColY, " 250 ");
    d.set(4, ColOffset, "-3");
    // The records are replaced before the master answers; a failure warns and the dialog stays.
    QStringList during;
    d.harness.beforeAnswer = [&](const QByteArray&) { during = recordsOf(setup); };
    d.harness.answers = {false};
    d.click("btnFinishDiscovery");
    QCOMPARE(d.harness.commands.last(), QByteArray("$PK,1A2B,2,2,5E6F,9ABC,7A8B,3C4D,\r\n"));
    // The records take the colours the table shows; the modules found now got
    // colours that no other module has (3C4D's used to be anchor Ost's blue).
    const auto shown = [&](int row) { return cellColor(d.dialog.table(), row, ColColor).name(QColor::HexArgb); };
    QCOMPARE(during, QStringList({"1A2B|1A2B|#ff000000|0,0|M|0", "5E6F|Ost|#ff0000ff|500,0|-|-4", "9ABC|  Nord|" + shown(4) + "|0,250|-|-3",
                                  "7A8B|7A8B|#ff000000|0100000", "3C4D|3C4D|" + shown(3) + "|0100000"}));
    QVERIFY(setup.colors().count(setup.anchors[2].color) == 1 && setup.colors().count(setup.tags[1].color) == 1);
    QCOMPARE(setup.tags[0].rawX, Tag::NoPosition);
    QCOMPARE(boxes.seen, QStringList({"Konfiguration übernehmen|Die Konfiguration konnte nicht übernommen werden!|Warning"}));
    QVERIFY(findButton(&d.dialog, "btnFinishDiscovery")->isEnabled() && d.dialog.result() == 0);
    d.click("btnFinishDiscovery");
    QCOMPARE(d.dialog.result(), int(QDialog::Accepted));
}

void TestDialogs::resetAndRestore()
{
    ModalAnswerer boxes;
    ModuleSetup setup = setupOf("1A2B* 3C4D 5E6F", "7A8B");
    const QByteArray config = "$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n";
    Discovery d(&setup);
    // Cancelled: nothing sent. Confirmed: a loose "$PL", and only the master row stays.
    boxes.answer(QMessageBox::Cancel);
    d.click("btnResetConfiguration");
    QVERIFY(d.harness.commands.isEmpty());
    boxes.answer(QMessageBox::Ok);
    d.click("btnResetConfiguration");
    QCOMPARE(d.rows(), QString("1A2B-"));
    QCOMPARE(setup.anchors.size(), 3);   // untouched until an upload
    // Discarding now gives the master the records back; a restore that fails
    // is said, and the dialog is left all the same.
    d.dialog.show();
    d.harness.answers = {false};
    d.click("btnCancelDiscovery");
    QVERIFY(!d.dialog.isVisible());
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PL,\r\n (loose)", config}));
    QCOMPARE(boxes.seen.at(0).section('|', 0, 0), QString("Module erkennen"));
    const QString failed = "Die Konfiguration konnte nicht zurückgesetzt werden!";
    QVERIFY2(boxes.texts(2).value(0).startsWith(failed), qPrintable(boxes.texts(2).join('/')));
    // No modules at all: nothing to restore, the restore fails at once, and Escape still leaves.
    ModuleSetup none;
    Discovery empty(&none);
    empty.dialog.show();
    boxes.answer(QMessageBox::Ok);   // the reset
    empty.click("btnResetConfiguration");
    boxes.answer(QMessageBox::Ok);   // discard on leaving
    QTest::keyClick(&empty.dialog, Qt::Key_Escape);
    QVERIFY(!empty.dialog.isVisible() && boxes.texts().last().startsWith(failed));

    // A reset that fails keeps the rows; an upload that fails after it warns that the master's state is undefined.
    Discovery again(&setup);
    again.harness.answers = {false, false};
    boxes.answer(QMessageBox::Ok);
    again.click("btnResetConfiguration");
    QCOMPARE(again.dialog.table()->rowCount(), 4);
    again.click("btnFinishDiscovery");
    QCOMPARE(boxes.texts(7), QStringList({"Befehl konnte nicht ausgeführt werden!",
                                          "Die Konfiguration konnte nicht übernommen werden!\nAchtung, die Daten auf dem "
                                          "Master befinden sich in undefiniertem Zustand, die Module müssen neu erfasst werden!"}));
}

void TestDialogs::closeWhileDiscovering()
{
    ModalAnswerer boxes;
    ModuleSetup setup = setupOf("1A2B* 5E6F");
    Discovery d(&setup);
    d.dialog.show();
    d.click("btnStartDiscovery");
    // Nothing changed: leaving stops the discovery without a single question.
    d.dialog.close();
    QVERIFY(boxes.seen.isEmpty() && !d.dialog.isVisible());
    QCOMPARE(d.harness.commands, QList<QByteArray>({"$PW,1,\r\n", "$PW,0,\r\n"}));
    // A changed name: one question; Cancel stays, OK leaves the records alone.
    Discovery e(&setup);
    e.dialog.show();
    e.set(1, ColName, "Nord");
    boxes.answer(QMessageBox::Cancel);
    boxes.answer(QMessageBox::Ok);
    QVERIFY(!e.dialog.close() && e.dialog.isVisible());
    e.dialog.close();
    QVERIFY(!e.dialog.isVisible() && setup.anchors.at(1).name == "5E6F");
    const QString discard = "Achtung:\nAlle geänderten Einstellungen bzgl Tags und Anker werden verworfen!";
    QCOMPARE(boxes.texts(), QStringList({discard, discard}));
    // The lights are explained.
    QVERIFY(e.dialog.findChild<QLabel*>("lblLegend")->text().contains("grün"));
}

void TestDialogs::commandDialog()
{
    ModalAnswerer boxes;
    ModuleSetup setup = setupOf("1A2B* 3c4d", "7A8B 9c0d");
    CommandWin dialog(nullptr);
    Harness harness(&dialog);
    dialog.setModules(&setup);
    auto* modules = dialog.findChild<QComboBox*>("cmbModule");
    QStringList items;
    for (int i = 0; i < modules->count(); ++i)
        items << modules->itemText(i) + "=" + modules->itemData(i).toString();
    QCOMPARE(items, QStringList({"alle=FFFF", "1A2B [ 1A2B ]=1A2B", "3c4d [ 3c4d ]=3c4d", "7A8B [ 7A8B ]=7A8B", "9c0d [ 9c0d ]=9c0d"}));
    QCOMPARE(modules->currentIndex(), 0);   // every module
    // Sending stays off until a command and its parameter are chosen. Ids go
    // out as the record holds them; codes and parameters as hex digits.
    auto click = [&](const QStringList& names) {
        for (const QString& n : names)
            dialog.findChild<QAbstractButton*>(n)->click();
    };
    auto* send = findButton(&dialog, "btnSendCommand");
    QVERIFY(!send->isEnabled());
    click({"rbLEDon"});
    QVERIFY(!send->isEnabled());
    click({"rbRXLED", "rbLEDoff"});
    QVERIFY(send->isEnabled());
    click({"btnSendCommand"});
    modules->setCurrentIndex(4);
    harness.answers = {false};
    harness.beforeAnswer = [&](const QByteArray&) { dialog.commandFailed("Grund"); };   // as the window says why
    click({"rbTXLED", "rbLEDon", "btnSendCommand"});
    QCOMPARE(harness.commands, QList<QByteArray>({"$PH,FFFF,2,0,\r\n", "$PH,9c0d,1,1,\r\n"}));
    CommandWin second(nullptr);
    second.setModules(&setup);
    second.findChild<QRadioButton*>("rbTXLED")->click();
    QVERIFY(!findButton(&second, "btnSendCommand")->isEnabled());
    QCOMPARE(boxes.seen, QStringList({"Befehl senden|Befehl wurde ausgeführt|Information",
                                      "Befehl senden|Fehler: Befehl wurde nicht ausgeführt|Warning|Grund"}));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
