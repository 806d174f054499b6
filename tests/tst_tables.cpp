#include "mainwin.h"
#include "masterinfo.h"
#include "qflatcombobox.h"
#include "tablecells.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>

// The module list packet as the main window applies it, the two module tables,
// the colour combo box and the master status label.
class TestTables : public QObject
{
    Q_OBJECT
private slots:
    void moduleList();
    void moduleListRejected();
    void tableRoundTrip();
    void tableEdits();
    void tableColours();
    void tableWidgetLifetime();
    void flatComboBox();
    void statusLabel();
};

namespace {

const QByteArray kThree = "$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n";

QTableWidget* anchorTable(MainWin& w) { return w.findChild<QTableWidget*>("tblAnker"); }
QTableWidget* tagTable(MainWin& w) { return w.findChild<QTableWidget*>("tblTags"); }

QFlatComboBox* comboAt(QTableWidget* t, int row)
{
    QWidget* cell = t->cellWidget(row, 2);
    return cell ? cell->findChild<QFlatComboBox*>() : nullptr;
}

QCheckBox* boxAt(QTableWidget* t, int row, int column)
{
    QWidget* cell = t->cellWidget(row, column);
    return cell ? cell->findChild<QCheckBox*>() : nullptr;
}

QString cell(QTableWidget* t, int row, int column)
{
    QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

void edit(QTableWidget* t, int row, int column, const QString& text)
{
    QTableWidgetItem* item = t->item(row, column);
    QVERIFY(item);
    item->setText(text);
}

QStringList column(QTableWidget* t, int c)
{
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r)
        out << cell(t, r, c);
    return out;
}

// The check-box column of a table as 0/1 per row, or per column for one row.
QString ticks(QTableWidget* t, int row, int first, int last)
{
    QString out;
    for (int c = first; c <= last; ++c)
        out += isCellChecked(t, row, c) ? '1' : '0';
    return out;
}

void giveMeasurement(Tag& t)
{
    t.prevRawX = t.prevRawY = t.prevAvgX = t.prevAvgY = 10;
    t.rawX = t.rawY = t.avgX = t.avgY = 20;
    t.lastUpdateMs = 2000;
    t.prevUpdateMs = 1000;
    t.lastStep = 14.0;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// Colour boxes and check boxes living in a table: old rows' widgets must be gone.
QPair<int, int> widgetsIn(QTableWidget* t)
{
    flushDeletes();
    return {t->viewport()->findChildren<QFlatComboBox*>().size(), t->viewport()->findChildren<QCheckBox*>().size()};
}

QString hex(int i) { return colorList.at(i).name(QColor::HexArgb); }

// A setup with user data in every field; the master is not the first anchor.
void loadSample(MainWin& w)
{
    w.modules.anchors = {
        Anchor("3c4d", "Nord", colorList.at(1), 100, -200, 30, false, 5),
        Anchor("1a2b", "Haupt", colorList.at(7), 0, 0, 250, true, -3),
        Anchor("5e6f", "", colorList.at(10), 2147483647, -2147483647 - 1, 0, false, 0),
    };
    w.modules.tags = {
        Tag("7a8b", "Wagen", colorList.at(3), true, false, true, false, true, false, true),
        Tag("9c0d", "Kiste", colorList.at(0), false, true, false, true, false, true, false),
    };
}

bool paletteShows(QWidget* widget, const QColor& colour, bool withHighlight)
{
    const QPalette p = widget->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        if (p.color(g, QPalette::Window) != colour || p.color(g, QPalette::Base) != colour)
            return false;
        if (withHighlight && p.color(g, QPalette::Highlight) != colour)
            return false;
    }
    return true;
}

} // namespace

void TestTables::moduleList()
{
    MainWin w;
    QTableWidget* ta = anchorTable(w);
    QTableWidget* tt = tagTable(w);

    // Master plus two anchors and one tag: the master comes first, new records get defaults.
    w.dataReceived(kThree);
    QCOMPARE(recordsOf(w.modules.anchors), QStringList({"1A2B|1A2B|#ff000000|0,0,0|M|0",
                                                        "3C4D|3C4D|#ff000000|0,0,0|-|0",
                                                        "5E6F|5E6F|#ff000000|0,0,0|-|0"}));
    QCOMPARE(recordsOf(w.modules.tags), QStringList({"7A8B|7A8B|#ff000000|0100000"}));
    QVERIFY(hasNoMeasurement(w.modules.tags.at(0)));
    QCOMPARE(column(ta, 0), QStringList({"1A2B", "3C4D", "5E6F"}));
    QCOMPARE(ticks(ta, 0, 6, 6) + ticks(ta, 1, 6, 6), QString("10"));
    QCOMPARE(column(tt, 0), QStringList({"7A8B"}));
    QVERIFY(w.tablesInSync);

    // The user edits names, positions and options; an identical list keeps all of it.
    edit(ta, 1, 1, "Ost");
    edit(ta, 1, 3, "120");
    edit(ta, 2, 4, "-75");
    edit(ta, 0, 7, "12");
    comboAt(ta, 2)->setCurrentIndex(5);
    boxAt(tt, 0, 8)->setChecked(true);
    const QStringList editedAnchors = {"1A2B|1A2B|#ff000000|0,0,0|M|12", "3C4D|Ost|#ff000000|120,0,0|-|0",
                                       "5E6F|5E6F|" + hex(5) + "|0,-75,0|-|0"};
    const QString editedTag = "7A8B|7A8B|#ff000000|0100010";
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(recordsOf(w.modules.anchors), editedAnchors);
        QCOMPARE(recordsOf(w.modules.tags), QStringList({editedTag}));
        w.dataReceived(kThree);
    }
    QCOMPARE(column(ta, 1), QStringList({"1A2B", "Ost", "5E6F"}));
    QCOMPARE(comboAt(ta, 2)->currentIndex(), 5);
    QVERIFY(boxAt(tt, 0, 8)->isChecked());

    // A list that drops one anchor and adds a tag: the rest keep place and data.
    w.dataReceived("$PK,1A2B,1,2,5E6F,7A8B,ABCD\r\n");
    QCOMPARE(recordsOf(w.modules.anchors), QStringList({editedAnchors.at(0), editedAnchors.at(2)}));
    QCOMPARE(recordsOf(w.modules.tags), QStringList({editedTag, "ABCD|ABCD|#ff000000|0100000"}));
    QCOMPARE(ta->rowCount() + tt->rowCount(), 4);

    // Fewer than four fields deletes every record.
    w.dataReceived("$PK,1A2B,2\r\n");
    QVERIFY(w.modules.anchors.isEmpty() && w.modules.tags.isEmpty());
    QCOMPARE(ta->rowCount() + tt->rowCount(), 0);

    // Letter case and blanks do not make a module new; the stored spelling stays.
    w.dataReceived("$PK,1a2b,1,1,3c4d,7a8b\r\n");
    edit(ta, 1, 1, "Ost");
    w.dataReceived("$PK, 1A2B ,1,1, 3C4D ,7A8B\r\n");
    QCOMPARE(recordsOf(w.modules.anchors), QStringList({"1a2b|1a2b|#ff000000|0,0,0|M|0",
                                                        "3c4d|Ost|#ff000000|0,0,0|-|0"}));
    QCOMPARE(recordsOf(w.modules.tags), QStringList({"7a8b|7a8b|#ff000000|0100000"}));

    // The master's echo of a configuration upload (upper-cased ids) keeps every
    // record, measurement state included, and the tables show them unchanged.
    w.modules.anchors = {Anchor("1a2b", "Haupt", colorList.at(7), 10, 20, 30, true, 4),
                         Anchor("3c4d", "Nord", colorList.at(1), -5, 300, 0, false, 0),
                         Anchor("5e6f", "Sued", colorList.at(2), 500, 0, 0, false, -7)};
    w.modules.tags = {Tag("7a8b", "Wagen", colorList.at(3), true, true, false, false, true, true, false)};
    giveMeasurement(w.modules.tags[0]);
    const QStringList uploaded = recordsOf(w.modules.anchors) + recordsOf(w.modules.tags);
    w.dataReceived(kThree);
    QCOMPARE(recordsOf(w.modules.anchors) + recordsOf(w.modules.tags), uploaded);
    QCOMPARE(w.modules.tags.at(0).avgX, 20);
    QCOMPARE(column(ta, 1), QStringList({"Haupt", "Nord", "Sued"}));
    QCOMPARE(comboAt(ta, 0)->currentIndex(), 7);

}

void TestTables::moduleListRejected()
{
    MainWin w;
    w.dataReceived(kThree);
    edit(anchorTable(w), 1, 1, "Ost");
    const QStringList records = recordsOf(w.modules.anchors) + recordsOf(w.modules.tags);

    const QList<QByteArray> rejected = {
        "$PK,1A2B,3,0,3C4D,5E6F\r\n",             // announces three anchors, carries two
        "$PK,1A2B,2,2,3C4D,5E6F,7A8B\r\n",        // announces two tags, carries one
        "$PK,0,0,0\r\n",                          // zero master
        "$PK,XYZ,2,1,3C4D,5E6F,7A8B\r\n",         // not hexadecimal
        "$PK,1A2B,Z,1,3C4D,5E6F,7A8B\r\n",        // unreadable count
        "$PK,1A2B,-1,1,3C4D\r\n",
        "$PK,1A2B,1FFFFFFFFFFFFFFFF,0,3C4D\r\n",  // beyond 64 bits
    };
    for (const QByteArray& line : rejected) {
        QElapsedTimer clock;
        clock.start();
        w.dataReceived(line);
        QVERIFY2(clock.elapsed() < 5000, line.constData());   // huge counts cost nothing
        QVERIFY2(recordsOf(w.modules.anchors) + recordsOf(w.modules.tags) == records, line.constData());
        QCOMPARE(cell(anchorTable(w), 1, 1), QString("Ost"));
    }
    // And the records still follow a sound list afterwards.
    w.dataReceived("$PK,1A2B,0,0\r\n");
    QCOMPARE(w.modules.anchors.size(), 1);
}

void TestTables::tableRoundTrip()
{
    MainWin w;
    QTableWidget* ta = anchorTable(w);
    QTableWidget* tt = tagTable(w);
    loadSample(w);
    for (Tag& t : w.modules.tags)
        giveMeasurement(t);
    const QStringList anchors = recordsOf(w.modules.anchors);
    const QStringList tags = recordsOf(w.modules.tags);

    // Building the tables never writes the records.
    w.fillAnchorTable();
    w.fillTagTable();
    QVERIFY(w.tablesInSync);
    QCOMPARE(recordsOf(w.modules.anchors) + recordsOf(w.modules.tags), anchors + tags);
    QCOMPARE(w.modules.tags.at(1).avgX, 20);

    // Cells as built: ids read-only, the master box ticked but not for the user.
    QCOMPARE(column(ta, 0), QStringList({"3c4d", "1a2b", "5e6f"}));
    QCOMPARE(column(ta, 4), QStringList({"-200", "0", "-2147483648"}));
    QVERIFY(!(ta->item(0, 0)->flags() & Qt::ItemIsEditable) && !(tt->item(0, 0)->flags() & Qt::ItemIsEditable));
    QVERIFY(boxAt(ta, 1, 6)->isChecked() && !boxAt(ta, 1, 6)->isEnabled());
    QCOMPARE(comboAt(ta, 1)->currentIndex(), 7);
    QCOMPARE(ticks(tt, 0, 3, 9) + ticks(tt, 1, 3, 9), QString("10101010101010"));

    // Read back unchanged, apart from the master moving to the front; the tags start afresh.
    w.readAnchorTable();
    w.readTagTable();
    QCOMPARE(recordsOf(w.modules.anchors), QStringList({anchors.at(1), anchors.at(0), anchors.at(2)}));
    QCOMPARE(recordsOf(w.modules.tags), tags);
    QVERIFY(hasNoMeasurement(w.modules.tags.at(0)));

}

void TestTables::tableEdits()
{
    MainWin w;
    QTableWidget* ta = anchorTable(w);
    QTableWidget* tt = tagTable(w);
    loadSample(w);
    w.fillAnchorTable();
    w.fillTagTable();

    // After any edit the master comes first.
    edit(ta, 2, 1, "Sued");
    QCOMPARE(recordsOf(w.modules.anchors),
             QStringList({"1a2b|Haupt|" + hex(7) + "|0,0,250|M|-3", "3c4d|Nord|" + hex(1) + "|100,-200,30|-|5",
                          "5e6f|Sued|" + hex(10) + "|2147483647,-2147483648,0|-|0"}));

    // Names are taken as typed; numbers are trimmed; anything not a number is 0
    // while the cell keeps what was typed.
    struct Case {
        int column;
        QString typed;
        QString recordField;
    };
    const QList<Case> cases = {{1, "  Nord 2 ", "  Nord 2 "}, {4, " 250 ", "250"}, {3, "12a", "0"},
                               {7, "", "0"}, {7, "99999999999", "0"}, {7, "-40", "-40"}};
    for (const Case& c : cases) {
        edit(ta, 0, c.column, c.typed);
        const Anchor& a = w.modules.anchors.at(1);
        const QString field = c.column == 1 ? a.name : QString::number(c.column == 3 ? a.x : c.column == 4 ? a.y : a.offset);
        QVERIFY2(field == c.recordField, qPrintable(c.typed));
        QCOMPARE(cell(ta, 0, c.column), c.typed);
    }
    QCOMPARE(w.modules.anchors.at(0).id, QString("1a2b"));   // the master stays in front

    // Ticking an option or renaming rebuilds every tag, so all measurement states start afresh.
    for (Tag& t : w.modules.tags)
        giveMeasurement(t);
    boxAt(tt, 1, 3)->setChecked(true);
    QCOMPARE(recordsOf(w.modules.tags), QStringList({"7a8b|Wagen|" + hex(3) + "|1010101",
                                                     "9c0d|Kiste|" + hex(0) + "|1101010"}));
    QVERIFY(hasNoMeasurement(w.modules.tags.at(0)) && hasNoMeasurement(w.modules.tags.at(1)));
    giveMeasurement(w.modules.tags[1]);
    edit(tt, 0, 1, "Auto");
    QCOMPARE(w.modules.tags.at(0).name, QString("Auto"));
    QVERIFY(hasNoMeasurement(w.modules.tags.at(1)));
    // While the flag is down the slots stay silent.
    const QStringList records = recordsOf(w.modules.anchors) + recordsOf(w.modules.tags);
    w.tablesInSync = false;
    edit(ta, 1, 1, "still");
    boxAt(tt, 0, 3)->setChecked(true);
    comboAt(ta, 1)->setCurrentIndex(2);
    comboAt(tt, 1)->setCurrentIndex(2);
    QCOMPARE(recordsOf(w.modules.anchors) + recordsOf(w.modules.tags), records);
    w.tablesInSync = true;
}

void TestTables::tableColours()
{
    MainWin w;
    QTableWidget* ta = anchorTable(w);
    QTableWidget* tt = tagTable(w);
    loadSample(w);
    w.modules.anchors[0].color = QColor(1, 2, 3);
    w.modules.anchors[2].color = QColor();
    w.modules.tags[1].color = QColor(1, 2, 3, 128);
    w.fillAnchorTable();
    w.fillTagTable();

    // A colour not among the eleven (an invalid one too) becomes a twelfth item,
    // selected, and survives a read-back.
    QCOMPARE(QList<int>({comboAt(ta, 0)->count(), comboAt(ta, 1)->count(), comboAt(ta, 2)->count(), comboAt(tt, 1)->count()}),
             QList<int>({12, 11, 12, 12}));
    QCOMPARE(comboAt(ta, 0)->currentIndex(), 11);
    QCOMPARE(comboAt(ta, 0)->itemData(11, Qt::BackgroundRole).value<QColor>(), QColor(1, 2, 3));
    w.readAnchorTable();
    w.readTagTable();
    QCOMPARE(w.modules.anchors.at(1).color, QColor(1, 2, 3));
    QVERIFY(!w.modules.anchors.at(2).color.isValid());
    QCOMPARE(w.modules.tags.at(1).color, QColor(1, 2, 3, 128));

    // Choosing a colour: the record follows, and the box, its list highlight and
    // its field all show it; reading back does not rebuild the table.
    QFlatComboBox* chosen = comboAt(ta, 1);
    chosen->setCurrentIndex(8);
    QCOMPARE(w.modules.anchors.at(0).color, colorList.at(8));
    QVERIFY(paletteShows(chosen, colorList.at(8), true));
    QVERIFY(paletteShows(comboAt(ta, 0), QColor(1, 2, 3), true));
    QCOMPARE(comboAt(ta, 1), chosen);
    comboAt(tt, 0)->setCurrentIndex(9);
    QCOMPARE(w.modules.tags.at(0).color, colorList.at(9));
}

void TestTables::tableWidgetLifetime()
{
    MainWin w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTableWidget* ta = anchorTable(w);
    QTableWidget* tt = tagTable(w);
    w.dataReceived(kThree);
    w.dataReceived("$PK,1A2B,2,2,3C4D,5E6F,7A8B,9C0D\r\n");
    QCOMPARE(widgetsIn(ta), qMakePair(3, 3));
    QCOMPARE(widgetsIn(tt), qMakePair(2, 14));

    // Refilling a table that holds rows leaves no old widgets behind.
    for (int i = 0; i < 5; ++i) {
        w.fillAnchorTable();
        w.fillTagTable();
    }
    w.modules.anchors.removeLast();
    w.modules.tags.removeLast();
    w.fillAnchorTable();
    w.fillTagTable();
    QCOMPARE(widgetsIn(ta), qMakePair(2, 2));
    QCOMPARE(widgetsIn(tt), qMakePair(1, 7));

    // A module list arriving from inside a colour box's own signal rebuilds the table
    // under that box: no crash, the choice is kept, nothing leaks.
    w.dataReceived(kThree);
    flushDeletes();
    QPointer<QFlatComboBox> box = comboAt(ta, 1);
    connect(box.data(), QOverload<int>::of(&QComboBox::currentIndexChanged), &w, [&w](int) { w.dataReceived(kThree); });
    box->setCurrentIndex(4);
    QVERIFY(box);                                    // still alive until control returns
    QVERIFY(comboAt(ta, 1) != box);
    QCOMPARE(widgetsIn(ta), qMakePair(3, 3));
    QVERIFY(!box);
    QCOMPARE(w.modules.anchors.at(1).color, colorList.at(4));
    QCOMPARE(comboAt(ta, 1)->currentIndex(), 4);
    QVERIFY(paletteShows(comboAt(ta, 1), colorList.at(4), false));

}

void TestTables::flatComboBox()
{
    QFlatComboBox combo;
    for (int i = 0; i < colorList.size(); ++i)
        addColorItem(&combo, i, colorList.at(i));
    QCOMPARE(combo.itemText(7), QString());
    QCOMPARE(combo.itemData(7, Qt::BackgroundRole).value<QColor>(), colorList.at(7));

    // A colour written as its name selects the same item.
    selectColor(&combo, QColor("#ff9922"), true);
    QCOMPARE(combo.currentIndex(), 7);
    QCOMPARE(combo.palette().color(QPalette::Base), colorList.at(7));
    // Unknown colour, not to be added: nothing changes; to be added: a twelfth item, current.
    selectColor(&combo, colorList.at(3), false);
    const QPalette before = combo.palette();
    selectColor(&combo, QColor(9, 9, 9), false);
    QCOMPARE(combo.currentIndex(), 3);
    QCOMPARE(combo.palette(), before);
    selectColor(&combo, QColor(9, 9, 9), true);
    QCOMPARE(combo.count(), 12);
    QCOMPARE(combo.currentIndex(), 11);
    selectColor(nullptr, Qt::red, true);
    addColorItem(nullptr, 0, Qt::red);

    // Painted flat: the whole field in the selected colour.
    combo.resize(60, 24);
    selectColor(&combo, colorList.at(1), true);
    const QImage red = combo.grab().toImage();
    QCOMPARE(QColor(red.pixel(5, 5)), QColor(255, 0, 0));
    QCOMPARE(QColor(red.pixel(25, 20)), QColor(255, 0, 0));

}

void TestTables::statusLabel()
{
    MainWin w;
    MasterInfo* info = w.findChild<MasterInfo*>();
    QVERIFY(info && info == w.masterInfo);
    qint64 clock = 1700000000000LL;
    info->now = [&] { return clock; };
    auto check = [&] { QVERIFY(QMetaObject::invokeMethod(info, "checkAlive", Qt::DirectConnection)); };
    const QString identity = "Master ID: 1A2B - Version: 2.1";
    const QString silent = "keine Verbindung";

    // Ranging lines alone keep it alive but name no master.
    w.dataReceived("$PD,1A2B,1F4,0,3E8\r\n");
    check();
    QCOMPARE(info->text(), QString());
    w.dataReceived("$PX,1A2B,2.1\r\n");
    QCOMPARE(info->text(), identity);

    // A packet shows as a sign of life at the next check; a short 'X' line does not.
    clock += 7000;
    check();
    QCOMPARE(info->text(), silent);
    w.dataReceived(kThree);
    check();
    QCOMPARE(info->text(), identity);
    clock += 7000;
    w.dataReceived("$PX,1A2B\r\n");
    check();
    QCOMPARE(info->text(), silent);

    // Connecting, disconnecting and a failed attempt clear the identity at once.
    PtyPair pty;
    w.dataReceived("$PX,1A2B,2.1\r\n");
    QVERIFY(connectWindow(w, pty.slavePath()));
    QCOMPARE(info->text(), QString());
    pty.send("$PX,3C4D,2.2\r\n");
    QVERIFY(waitUntil([&] { return info->text() == "Master ID: 3C4D - Version: 2.2"; }, 2000));
    w.disconnectPort();
    QCOMPARE(info->text(), QString());
    ModalAnswerer boxes;
    w.dataReceived("$PX,1A2B,2.1\r\n");
    QVERIFY(!connectWindow(w, "/dev/does-not-exist-orvane"));
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(info->text(), QString());
    clock += 5001;
    check();
    QCOMPARE(info->text(), silent);
}

QTEST_MAIN(TestTables)
#include "tst_tables.moc"
