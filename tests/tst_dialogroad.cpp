#include "commandwin.h"
#include "discoverwin.h"
#include "mainwin.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <functional>

// The dialogs driven through the real main window: the button opens the dialog
// modally, the dialog's commands run through the blocking exchange over a
// pseudo-terminal, and a fake master module echoes, reports or stays silent.
class TestDialogRoad : public QObject
{
    Q_OBJECT
private slots:
    void discovery();
    void discoverySilent();
    void resetAndRestore();
    void ledCommand();
};

namespace {

QPushButton* button(QWidget* parent, const char* name)
{
    auto* b = parent->findChild<QPushButton*>(QLatin1String(name));
    if (!b)
        qFatal("button %s missing", name);
    return b;
}

bool connectTo(MainWin& w, const PtyPair& pty)
{
    w.findChild<QComboBox*>("cmbComPort")->setEditText(pty.slavePath());
    w.connectPort();
    return w.com.isOpen();
}

QString cellText(QTableWidget* t, int row, int column)
{
    QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
}

QColor idBackground(QTableWidget* t, int row)
{
    QTableWidgetItem* item = t->item(row, 0);
    return item ? item->data(Qt::BackgroundRole).value<QColor>() : QColor();
}

QComboBox* roleCombo(QTableWidget* t, int row)
{
    QWidget* cell = t->cellWidget(row, 1);
    return cell ? cell->findChild<QComboBox*>() : nullptr;
}

struct DialogRun {
    bool opened = false;
    bool closedItself = false;   // false: the script left it open and it was shut by force
    int result = -1;
};

// Clicks the main window's button and runs script inside the modal dialog's own
// event loop. The script runs from a timer of its own, so the answerer's timer
// keeps firing and answers the message boxes the dialog opens meanwhile. A
// dialog the script leaves open (a failed check) is shut so nothing hangs.
template <class Dialog>
DialogRun runDialog(MainWin& w, ModalAnswerer& boxes, const char* buttonName,
                    const std::function<void(Dialog*)>& script)
{
    DialogRun run;
    boxes.onOtherModal = [&](QWidget* modal) {
        auto* dialog = qobject_cast<Dialog*>(modal);
        // The hook fires again whenever the dialog becomes active after a box.
        if (!dialog || run.opened)
            return;
        run.opened = true;
        QObject::connect(dialog, &QDialog::finished, [&](int result) { run.result = result; });
        QPointer<Dialog> guard(dialog);
        QTimer::singleShot(0, dialog, [&, guard] {
            script(guard.data());
            run.closedItself = !guard || !guard->isVisible();
            if (guard && guard->isVisible())
                guard->done(QDialog::Rejected);
        });
    };
    button(&w, buttonName)->click();
    boxes.onOtherModal = nullptr;
    return run;
}

} // namespace

void TestDialogRoad::discovery()
{
    PtyPair pty;
    FakeMaster master(&pty);
    MainWin w;
    ModalAnswerer boxes;
    w.dataReceived("$PK,1A2B,2,0,3C4D,5E6F,\r\n");
    w.modules.anchors[1].name = "Nord";
    QVERIFY(connectTo(w, pty));
    QVERIFY(button(&w, "btnDiscovery")->isEnabled());

    const DialogRun run = runDialog<DiscoverWin>(w, boxes, "btnDiscovery", [&](DiscoverWin* dlg) {
        QTableWidget* table = dlg->table();
        QCOMPARE(table->rowCount(), 3);

        // Start: the exact command goes out byte for byte and its echo switches the dialog.
        dlg->activateWindow();
        button(dlg, "btnStartDiscovery")->setFocus();
        QVERIFY(waitUntil([&] { return QApplication::focusWidget() == button(dlg, "btnStartDiscovery"); }, 1000));
        button(dlg, "btnStartDiscovery")->click();
        QCOMPARE(master.received, QByteArray("$PW,1,\r\n"));
        QCOMPARE(dlg->currentState(), DiscoveryState::Discovering);
        QCOMPARE(button(dlg, "btnStartDiscovery")->text(), QString("Erkennungsmodus beenden"));
        QVERIFY(!button(dlg, "btnFinishDiscovery")->isEnabled());
        QVERIFY(!button(dlg, "btnCancelDiscovery")->isEnabled());
        QVERIFY(!button(dlg, "btnResetConfiguration")->isEnabled());
        QVERIFY(dlg->isEnabled());
        QVERIFY(w.isEnabled());
        // The exchange disabled the dialog for a while; the keyboard focus came back.
        QCOMPARE(QApplication::focusWidget(), button(dlg, "btnStartDiscovery"));

        // The master reports itself and one module it hears.
        pty.send("$PW,0,1A2B,2B03\r\n");
        QVERIFY(waitUntil([&] { return table->rowCount() == 4; }, 2000));
        QCOMPARE(cellText(table, 3, 0), QString("2B03"));
        QCOMPARE(idBackground(table, 3), QColor(Qt::green));
        QCOMPARE(idBackground(table, 0), QColor(Qt::green));
        QCOMPARE(idBackground(table, 1), QColor(Qt::red));
        QComboBox* role = roleCombo(table, 3);
        QVERIFY(role);
        QCOMPARE(role->currentText(), QString("nicht nutzen"));
        // The role column shows the longest role text in full.
        QVERIFY(table->columnWidth(1) >= role->sizeHint().width());
        role->setCurrentIndex(role->findText("Tag"));
        QCOMPARE(role->currentText(), QString("Tag"));

        // A repeated report adds nothing.
        pty.send("$PW,0,1A2B,2B03\r\n");
        QTest::qWait(50);
        QCOMPARE(table->rowCount(), 4);

        master.clear();
        button(dlg, "btnStartDiscovery")->click();
        QCOMPARE(master.lines, QList<QByteArray>{"$PW,0,\r\n"});
        QCOMPARE(dlg->currentState(), DiscoveryState::Idle);
        QCOMPARE(button(dlg, "btnStartDiscovery")->text(), QString("Erkennungsmodus starten"));
        QVERIFY(button(dlg, "btnFinishDiscovery")->isEnabled());

        // Upload: exactly the configuration command, echoed; the dialog closes itself.
        master.clear();
        button(dlg, "btnFinishDiscovery")->click();
        QCOMPARE(master.received, QByteArray("$PK,1A2B,2,1,3C4D,5E6F,2B03,\r\n"));
    });
    QVERIFY(run.opened);
    QVERIFY(run.closedItself);
    QCOMPARE(run.result, int(QDialog::Accepted));
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(w.discoverWin == nullptr);

    // The main window's tables show the new records; the anchors kept their data.
    auto* anchors = w.findChild<QTableWidget*>("tblAnker");
    auto* tags = w.findChild<QTableWidget*>("tblTags");
    QCOMPARE(anchors->rowCount(), 3);
    QCOMPARE(cellText(anchors, 0, 0), QString("1A2B"));
    QCOMPARE(cellText(anchors, 1, 1), QString("Nord"));
    QCOMPARE(tags->rowCount(), 1);
    QCOMPARE(cellText(tags, 0, 0), QString("2B03"));
    QCOMPARE(cellText(tags, 0, 1), QString("2B03"));
    QCOMPARE(w.modules.tags.size(), 1);
    QVERIFY(w.modules.tags.at(0).showPosAvg);
    QVERIFY(!w.modules.tags.at(0).showPosRaw);
    QVERIFY(w.isEnabled());
    QVERIFY(button(&w, "btnDiscovery")->isEnabled());
}

void TestDialogRoad::discoverySilent()
{
    PtyPair pty;
    FakeMaster master(&pty);
    MainWin w;
    ModalAnswerer boxes;
    w.dataReceived("$PK,1A2B,2,0,3C4D,5E6F,\r\n");
    QVERIFY(connectTo(w, pty));
    master.policy = FakeMaster::Silent;

    const DialogRun run = runDialog<DiscoverWin>(w, boxes, "btnDiscovery", [&](DiscoverWin* dlg) {
        QTableWidget* table = dlg->table();

        // Start unanswered: six transmissions, then the warning; the dialog stays idle.
        QElapsedTimer clock;
        clock.start();
        button(dlg, "btnStartDiscovery")->click();
        QVERIFY(clock.elapsed() >= 6 * 100);
        QCOMPARE(master.countLine("$PW,1,\r\n"), 6);
        QCOMPARE(master.lines.size(), 6);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.at(0).title, QString("Erkennungsmodus starten"));
        QCOMPARE(boxes.seen.at(0).text, QString("Der Erkennungsmodus konnte nicht initialisiert werden!"));
        QCOMPARE(boxes.seen.at(0).icon, QMessageBox::Warning);
        QCOMPARE(dlg->currentState(), DiscoveryState::Idle);
        QCOMPARE(button(dlg, "btnStartDiscovery")->text(), QString("Erkennungsmodus starten"));
        QVERIFY(button(dlg, "btnFinishDiscovery")->isEnabled());

        // Upload unanswered: the warning, the dialog stays open, the records are replaced.
        table->item(1, 2)->setText("Ost");
        master.clear();
        button(dlg, "btnFinishDiscovery")->click();
        QCOMPARE(master.countLine("$PK,1A2B,2,0,3C4D,5E6F,\r\n"), 6);
        QCOMPARE(boxes.seen.size(), 2);
        QCOMPARE(boxes.seen.at(1).title, QString("Konfiguration übernehmen"));
        QCOMPARE(boxes.seen.at(1).text, QString("Die Konfiguration konnte nicht übernommen werden!"));
        QVERIFY(dlg->isVisible());
        QCOMPARE(dlg->currentState(), DiscoveryState::Idle);
        QCOMPARE(w.modules.anchors.at(1).name, QString("Ost"));

        // Discarding without a reset closes at once, with no question.
        master.clear();
        button(dlg, "btnCancelDiscovery")->click();
        QVERIFY(master.lines.isEmpty());
    });
    QVERIFY(run.opened);
    QVERIFY(run.closedItself);
    QCOMPARE(run.result, int(QDialog::Rejected));
    QCOMPARE(boxes.seen.size(), 2);
    // The replaced records stay, and the main window shows them.
    QCOMPARE(cellText(w.findChild<QTableWidget*>("tblAnker"), 1, 1), QString("Ost"));
    QVERIFY(w.isEnabled());
}

void TestDialogRoad::resetAndRestore()
{
    PtyPair pty;
    FakeMaster master(&pty);
    MainWin w;
    ModalAnswerer boxes;
    w.dataReceived("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n");
    QVERIFY(connectTo(w, pty));
    // The reset is loose: the master answers with its identity instead of an echo.
    master.responder = [](const QByteArray& line) {
        return line == "$PL,\r\n" ? QByteArray("$PX,1A2B,1.0\r\n") : line;
    };

    DialogRun run = runDialog<DiscoverWin>(w, boxes, "btnDiscovery", [&](DiscoverWin* dlg) {
        QTableWidget* table = dlg->table();
        QCOMPARE(table->rowCount(), 4);

        // Cancelled question: nothing is sent.
        boxes.answer(QMessageBox::Cancel);
        button(dlg, "btnResetConfiguration")->click();
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.at(0).title, QString("Module erkennen"));
        QCOMPARE(boxes.seen.at(0).icon, QMessageBox::Question);
        QVERIFY(master.lines.isEmpty());
        QCOMPARE(table->rowCount(), 4);

        boxes.answer(QMessageBox::Ok);
        button(dlg, "btnResetConfiguration")->click();
        QCOMPARE(boxes.seen.size(), 2);
        QCOMPARE(master.received, QByteArray("$PL,\r\n"));
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(cellText(table, 0, 0), QString("1A2B"));
        QCOMPARE(roleCombo(table, 0)->currentText(), QString("Master"));
        QCOMPARE(dlg->currentState(), DiscoveryState::Idle);
        // The records are untouched until an upload.
        QCOMPARE(w.modules.anchors.size(), 3);

        // Discard restores the master's configuration from the current records.
        master.clear();
        button(dlg, "btnCancelDiscovery")->click();
        QCOMPARE(master.received, QByteArray("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n"));
    });
    QVERIFY(run.opened);
    QVERIFY(run.closedItself);
    QCOMPARE(run.result, int(QDialog::Rejected));
    QCOMPARE(boxes.seen.size(), 2);      // no discard question after the restore
    QCOMPARE(w.findChild<QTableWidget*>("tblAnker")->rowCount(), 3);
    QCOMPARE(w.findChild<QTableWidget*>("tblTags")->rowCount(), 1);
    QCOMPARE(w.modules.tags.at(0).id, QString("7A8B"));

    // A reset the master does not answer keeps the rows; then an unanswered restore
    // keeps the dialog open, and a failing upload after the reset warns of the
    // master's undefined state.
    boxes.seen.clear();
    master.clear();
    master.responder = nullptr;
    master.policy = FakeMaster::Silent;
    run = runDialog<DiscoverWin>(w, boxes, "btnDiscovery", [&](DiscoverWin* dlg) {
        QTableWidget* table = dlg->table();
        boxes.answer(QMessageBox::Ok);
        button(dlg, "btnResetConfiguration")->click();
        QCOMPARE(master.countLine("$PL,\r\n"), 6);
        QCOMPARE(boxes.seen.size(), 2);
        QCOMPARE(boxes.seen.at(1).title, QString("Konfiguration zurücksetzen"));
        QCOMPARE(boxes.seen.at(1).text, QString("Befehl konnte nicht ausgeführt werden!"));
        QCOMPARE(table->rowCount(), 4);

        button(dlg, "btnCancelDiscovery")->click();
        QCOMPARE(master.countLine("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n"), 6);
        QCOMPARE(boxes.seen.size(), 3);
        QCOMPARE(boxes.seen.at(2).title, QString("Konfiguration verwerfen"));
        QCOMPARE(boxes.seen.at(2).text, QString("Die Konfiguration konnte nicht zurückgesetzt werden!"));
        QVERIFY(dlg->isVisible());

        button(dlg, "btnFinishDiscovery")->click();
        QCOMPARE(boxes.seen.size(), 4);
        QCOMPARE(boxes.seen.at(3).text,
                 QString("Die Konfiguration konnte nicht übernommen werden!\nAchtung, die Daten auf dem Master "
                         "befinden sich in undefiniertem Zustand, die Module müssen neu erfasst werden!"));
        QVERIFY(dlg->isVisible());

        // Now the master answers again: the restore goes through and closes the dialog.
        master.policy = FakeMaster::Echo;
        button(dlg, "btnCancelDiscovery")->click();
    });
    QVERIFY(run.opened);
    QVERIFY(run.closedItself);
    QCOMPARE(run.result, int(QDialog::Rejected));
    QCOMPARE(boxes.seen.size(), 4);
    QCOMPARE(master.lines.last(), QByteArray("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n"));
}

void TestDialogRoad::ledCommand()
{
    PtyPair pty;
    FakeMaster master(&pty);
    MainWin w;
    ModalAnswerer boxes;
    w.dataReceived("$PK,1A2B,2,0,3C4D,5E6F,\r\n");
    QVERIFY(connectTo(w, pty));
    QVERIFY(!button(&w, "btnSendCommand")->isEnabled());

    // Ranging needs three anchor rows; any packet line answers the loose start.
    master.responder = [](const QByteArray&) { return QByteArray("$PD,7A8B,64,C8\r\n"); };
    button(&w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive);
    QVERIFY(button(&w, "btnSendCommand")->isEnabled());
    QVERIFY(!button(&w, "btnDiscovery")->isEnabled());

    // While ranging, the master's module list changes to two anchors and two tags.
    pty.send("$PK,1A2B,1,2,3C4D,7A8B,9c0d,\r\n");
    QVERIFY(waitUntil([&] { return w.modules.tags.size() == 2; }, 2000));
    QCOMPARE(w.modules.anchors.size(), 2);

    // Ranging data keeps arriving around every echo.
    master.responder = [](const QByteArray& line) {
        return QByteArray("$PD,7A8B,64,C8\r\n") + line + "$PD,9c0d,64,C8\r\n";
    };
    master.clear();
    const DialogRun run = runDialog<CommandWin>(w, boxes, "btnSendCommand", [&](CommandWin* dlg) {
        auto* modules = dlg->findChild<QComboBox*>("cmbModule");
        QCOMPARE(modules->count(), 5);
        QCOMPARE(modules->itemText(0), QString("alle"));
        QCOMPARE(modules->itemText(1), QString("1A2B [ 1A2B ]"));
        QCOMPARE(modules->itemText(4), QString("9c0d [ 9c0d ]"));
        QCOMPARE(modules->currentIndex(), 4);

        modules->setCurrentIndex(0);
        dlg->findChild<QRadioButton*>("rbTXLED")->click();
        dlg->findChild<QRadioButton*>("rbLEDon")->click();
        button(dlg, "btnSendCommand")->click();
        QCOMPARE(master.lines, QList<QByteArray>{"$PH,FFFF,1,1,\r\n"});
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.at(0).title, QString("Befehl senden"));
        QCOMPARE(boxes.seen.at(0).text, QString("Befehl wurde ausgeführt"));
        QCOMPARE(boxes.seen.at(0).icon, QMessageBox::Information);
        QVERIFY(dlg->isVisible());

        // One tag, RX LED off: its id goes out as the record holds it.
        master.clear();
        modules->setCurrentIndex(4);
        dlg->findChild<QRadioButton*>("rbRXLED")->click();
        dlg->findChild<QRadioButton*>("rbLEDoff")->click();
        button(dlg, "btnSendCommand")->click();
        QCOMPARE(master.lines, QList<QByteArray>{"$PH,9c0d,2,0,\r\n"});
        QCOMPARE(boxes.seen.size(), 2);
        QCOMPARE(boxes.seen.at(1).text, QString("Befehl wurde ausgeführt"));

        // A master that does not answer.
        master.clear();
        master.responder = nullptr;
        master.policy = FakeMaster::Silent;
        button(dlg, "btnSendCommand")->click();
        QCOMPARE(master.countLine("$PH,9c0d,2,0,\r\n"), 6);
        QCOMPARE(boxes.seen.size(), 3);
        QCOMPARE(boxes.seen.at(2).title, QString("Befehl senden"));
        QCOMPARE(boxes.seen.at(2).text, QString("Fehler: Befehl wurde nicht ausgeführt"));
        QCOMPARE(boxes.seen.at(2).icon, QMessageBox::Warning);
        QVERIFY(dlg->isVisible());
        dlg->reject();
    });
    QVERIFY(run.opened);
    QVERIFY(run.closedItself);
    QVERIFY(w.commandWin == nullptr);
    QVERIFY(w.rangingActive);
    QVERIFY(button(&w, "btnSendCommand")->isEnabled());
    QVERIFY(w.isEnabled());
    // The ranging lines that came with the echoes were dispatched.
    QVERIFY(w.rangingHistory.value("7A8B").size() >= 2);
}

QTEST_MAIN(TestDialogRoad)
#include "tst_dialogroad.moc"
