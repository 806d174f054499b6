#include "commandwin.h"
#include "discoverwin.h"
#include "mainwin.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>

// The dialogs driven through the real main window: the button opens the dialog
// modally, the dialog's commands run through the blocking exchange over a
// pseudo-terminal, and a fake master module echoes, reports or stays silent.
class TestDialogRoad : public QObject
{
    Q_OBJECT
private slots:
    void discoverySilent();
    void resetAndRestore();
    void ledCommand();
};

namespace {

QString cellText(QTableWidget* t, int row, int column)
{
    QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
}

QComboBox* roleCombo(QTableWidget* t, int row)
{
    QWidget* cell = t->cellWidget(row, 1);
    return cell ? cell->findChild<QComboBox*>() : nullptr;
}

// A main window holding the records of a 'K' line, connected to a fake master.
struct Road {
    PtyPair pty;
    FakeMaster master{&pty};
    MainWin w;
    ModalAnswerer boxes;
    explicit Road(const QByteArray& moduleList) { w.dataReceived(moduleList); }
    bool connect() { return connectWindow(w, pty.slavePath()); }
    template <class Dialog>
    DialogRun run(const char* opener, const std::function<void(Dialog*)>& script)
    {
        return runModalDialog<Dialog>(boxes, findButton(&w, opener), script);
    }
    QTableWidget* table(const char* name) { return w.findChild<QTableWidget*>(name); }
};

const QByteArray ThreeModules = "$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n";

} // namespace

void TestDialogRoad::discoverySilent()
{
    Road road("$PK,1A2B,2,0,3C4D,5E6F,\r\n");
    FakeMaster& master = road.master;
    QVERIFY(road.connect());
    master.policy = FakeMaster::Silent;

    const DialogRun run = road.run<DiscoverWin>("btnDiscovery", [&](DiscoverWin* dlg) {
        // Start unanswered: six transmissions, then the warning; the dialog stays idle.
        QElapsedTimer clock;
        clock.start();
        findButton(dlg, "btnStartDiscovery")->click();
        QVERIFY(clock.elapsed() >= 6 * 100);
        QCOMPARE(master.lines.size(), 6);
        QCOMPARE(master.countLine("$PW,1,\r\n"), 6);
        QCOMPARE(boxOf(road.boxes.seen.value(0)), QStringList({"Erkennungsmodus starten",
                                                               "Der Erkennungsmodus konnte nicht initialisiert werden!",
                                                               "Warning"}));
        QCOMPARE(dlg->currentState(), DiscoveryState::Idle);

        // Upload unanswered: the warning, the dialog stays open, the records are replaced.
        dlg->table()->item(1, 2)->setText("Ost");
        master.clear();
        findButton(dlg, "btnFinishDiscovery")->click();
        QCOMPARE(master.countLine("$PK,1A2B,2,0,3C4D,5E6F,\r\n"), 6);
        QCOMPARE(boxOf(road.boxes.seen.value(1)), QStringList({"Konfiguration übernehmen",
                                                               "Die Konfiguration konnte nicht übernommen werden!",
                                                               "Warning"}));
        QVERIFY(dlg->isVisible());
        QCOMPARE(road.w.modules.anchors.at(1).name, QString("Ost"));

        // Discarding without a reset closes at once, with no question.
        master.clear();
        findButton(dlg, "btnCancelDiscovery")->click();
        QVERIFY(master.lines.isEmpty());
    });
    QVERIFY(run.opened && run.closedItself);
    QCOMPARE(run.result, int(QDialog::Rejected));
    QCOMPARE(road.boxes.seen.size(), 2);
    QCOMPARE(cellText(road.table("tblAnker"), 1, 1), QString("Ost"));
}

void TestDialogRoad::resetAndRestore()
{
    Road road(ThreeModules);
    FakeMaster& master = road.master;
    ModalAnswerer& boxes = road.boxes;
    QVERIFY(road.connect());
    // The reset is loose: the master answers with its identity instead of an echo.
    master.responder = [](const QByteArray& line) {
        return line == "$PL,\r\n" ? QByteArray("$PX,1A2B,1.0\r\n") : line;
    };

    DialogRun run = road.run<DiscoverWin>("btnDiscovery", [&](DiscoverWin* dlg) {
        QTableWidget* table = dlg->table();
        // Cancelled question: nothing is sent.
        boxes.answer(QMessageBox::Cancel);
        findButton(dlg, "btnResetConfiguration")->click();
        QCOMPARE(boxes.seen.value(0).title, QString("Module erkennen"));
        QVERIFY(master.lines.isEmpty());
        QCOMPARE(table->rowCount(), 4);

        boxes.answer(QMessageBox::Ok);
        findButton(dlg, "btnResetConfiguration")->click();
        QCOMPARE(master.received, QByteArray("$PL,\r\n"));
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(roleCombo(table, 0)->currentText(), QString("Master"));
        QCOMPARE(road.w.modules.anchors.size(), 3);   // untouched until an upload

        // Discard restores the master's configuration from the current records.
        master.clear();
        findButton(dlg, "btnCancelDiscovery")->click();
        QCOMPARE(master.received, ThreeModules);
    });
    QVERIFY(run.opened && run.closedItself);
    QCOMPARE(run.result, int(QDialog::Rejected));
    QCOMPARE(boxes.seen.size(), 2);      // no discard question after the restore
    QCOMPARE(road.table("tblAnker")->rowCount(), 3);
    QCOMPARE(road.table("tblTags")->rowCount(), 1);

    // A reset the master does not answer keeps the rows; an unanswered restore
    // keeps the dialog open, and a failing upload after the reset warns of the
    // master's undefined state.
    boxes.seen.clear();
    master.clear();
    master.responder = nullptr;
    master.policy = FakeMaster::Silent;
    run = road.run<DiscoverWin>("btnDiscovery", [&](DiscoverWin* dlg) {
        boxes.answer(QMessageBox::Ok);
        findButton(dlg, "btnResetConfiguration")->click();
        QCOMPARE(master.countLine("$PL,\r\n"), 6);
        QCOMPARE(dlg->table()->rowCount(), 4);
        findButton(dlg, "btnCancelDiscovery")->click();
        QCOMPARE(master.countLine(ThreeModules), 6);
        QVERIFY(dlg->isVisible());
        findButton(dlg, "btnFinishDiscovery")->click();
        QVERIFY(dlg->isVisible());
        QCOMPARE(boxTexts(boxes, 1),
                 QStringList({"Befehl konnte nicht ausgeführt werden!",
                              "Die Konfiguration konnte nicht zurückgesetzt werden!",
                              "Die Konfiguration konnte nicht übernommen werden!\nAchtung, die Daten auf dem Master "
                              "befinden sich in undefiniertem Zustand, die Module müssen neu erfasst werden!"}));
        QCOMPARE(boxes.seen.value(1).title, QString("Konfiguration zurücksetzen"));
        QCOMPARE(boxes.seen.value(2).title, QString("Konfiguration verwerfen"));

        // Now the master answers again: the restore goes through and closes the dialog.
        master.policy = FakeMaster::Echo;
        findButton(dlg, "btnCancelDiscovery")->click();
    });
    QVERIFY(run.opened && run.closedItself);
    QCOMPARE(run.result, int(QDialog::Rejected));
    QCOMPARE(boxes.seen.size(), 4);
    QCOMPARE(master.lines.last(), ThreeModules);
}

void TestDialogRoad::ledCommand()
{
    Road road("$PK,1A2B,2,0,3C4D,5E6F,\r\n");
    FakeMaster& master = road.master;
    ModalAnswerer& boxes = road.boxes;
    QVERIFY(road.connect());
    QVERIFY(!findButton(&road.w, "btnSendCommand")->isEnabled());

    // Ranging needs three anchor rows; any packet line answers the loose start.
    master.responder = [](const QByteArray&) { return QByteArray("$PD,7A8B,64,C8\r\n"); };
    findButton(&road.w, "btnStartRanging")->click();
    QVERIFY(road.w.rangingActive);
    QVERIFY(findButton(&road.w, "btnSendCommand")->isEnabled());
    QVERIFY(!findButton(&road.w, "btnDiscovery")->isEnabled());

    // While ranging, the master's module list changes to two anchors and two tags.
    road.pty.send("$PK,1A2B,1,2,3C4D,7A8B,9c0d,\r\n");
    QVERIFY(waitUntil([&] { return road.w.modules.tags.size() == 2; }, 2000));

    // Ranging data keeps arriving around every echo.
    master.responder = [](const QByteArray& line) {
        return QByteArray("$PD,7A8B,64,C8\r\n") + line + "$PD,9c0d,64,C8\r\n";
    };
    master.clear();
    const DialogRun run = road.run<CommandWin>("btnSendCommand", [&](CommandWin* dlg) {
        auto* modules = dlg->findChild<QComboBox*>("cmbModule");
        QCOMPARE(modules->count(), 5);
        QCOMPARE(modules->itemText(4), QString("9c0d [ 9c0d ]"));
        QCOMPARE(modules->currentIndex(), 4);

        // One tag, RX LED off: its id goes out as the record holds it.
        dlg->findChild<QRadioButton*>("rbRXLED")->click();
        dlg->findChild<QRadioButton*>("rbLEDoff")->click();
        findButton(dlg, "btnSendCommand")->click();
        QCOMPARE(master.lines, QList<QByteArray>{"$PH,9c0d,2,0,\r\n"});
        QCOMPARE(boxOf(boxes.seen.value(0)), QStringList({"Befehl senden", "Befehl wurde ausgeführt", "Information"}));

        // A master that does not answer.
        master.clear();
        master.responder = nullptr;
        master.policy = FakeMaster::Silent;
        findButton(dlg, "btnSendCommand")->click();
        QCOMPARE(master.countLine("$PH,9c0d,2,0,\r\n"), 6);
        QCOMPARE(boxOf(boxes.seen.value(1)), QStringList({"Befehl senden", "Fehler: Befehl wurde nicht ausgeführt", "Warning"}));
        QVERIFY(dlg->isVisible());
        dlg->reject();
    });
    QVERIFY(run.opened && run.closedItself);
    QVERIFY(road.w.commandWin == nullptr);
    QVERIFY(road.w.rangingActive && road.w.isEnabled());
    // The ranging lines that came with the echoes were dispatched.
    QVERIFY(road.w.rangingHistory.value("7A8B").size() >= 2);
}

QTEST_MAIN(TestDialogRoad)
#include "tst_dialogroad.moc"
