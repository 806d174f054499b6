#include "mainwin.h"
#include "masterinfo.h"
#include "qflatcombobox.h"
#include "tablecells.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QImage>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

// The module list packet as the main window applies it, the two module tables,
// the colour combo box and the master status label in the status bar.
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

QString colourText(const QColor& c)
{
    return c.isValid() ? c.name(QColor::HexArgb) : QStringLiteral("invalid");
}

QString describe(const Anchor& a)
{
    return QStringLiteral("%1|%2|%3|%4,%5,%6|%7|%8")
        .arg(a.id, a.name, colourText(a.color))
        .arg(a.x).arg(a.y).arg(a.z)
        .arg(a.master ? "M" : "-")
        .arg(a.offset);
}

QString describe(const Tag& t)
{
    return QStringLiteral("%1|%2|%3|%4%5%6%7%8%9%10")
        .arg(t.id, t.name, colourText(t.color))
        .arg(int(t.showPosRaw)).arg(int(t.showPosAvg)).arg(int(t.showDistRaw))
        .arg(int(t.showDistAvg)).arg(int(t.showCoordinates)).arg(int(t.showSpeed))
        .arg(int(t.showRate));
}

QStringList anchorsOf(const ModuleSetup& m)
{
    QStringList out;
    for (const Anchor& a : m.anchors)
        out << describe(a);
    return out;
}

QStringList tagsOf(const ModuleSetup& m)
{
    QStringList out;
    for (const Tag& t : m.tags)
        out << describe(t);
    return out;
}

QStringList column(QTableWidget* t, int c)
{
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r)
        out << cell(t, r, c);
    return out;
}

bool freshMeasurement(const Tag& t)
{
    const int n = Tag::NoPosition;
    return t.prevRawX == n && t.prevRawY == n && t.prevAvgX == n && t.prevAvgY == n && t.rawX == n
        && t.rawY == n && t.avgX == n && t.avgY == n && t.lastUpdateMs == 0 && t.prevUpdateMs == 0
        && t.lastStep == 0.0;
}

void giveMeasurement(Tag& t)
{
    t.prevRawX = t.prevRawY = t.prevAvgX = t.prevAvgY = 10;
    t.rawX = t.rawY = t.avgX = t.avgY = 20;
    t.lastUpdateMs = 2000;
    t.prevUpdateMs = 1000;
    t.lastStep = 14.0;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int combosIn(QTableWidget* t) { return t->viewport()->findChildren<QFlatComboBox*>().size(); }
int boxesIn(QTableWidget* t) { return t->viewport()->findChildren<QCheckBox*>().size(); }

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
    QCOMPARE(anchorsOf(w.modules), QStringList({"1A2B|1A2B|#ff000000|0,0,0|M|0",
                                                "3C4D|3C4D|#ff000000|0,0,0|-|0",
                                                "5E6F|5E6F|#ff000000|0,0,0|-|0"}));
    QCOMPARE(tagsOf(w.modules), QStringList({"7A8B|7A8B|#ff000000|0100000"}));
    QVERIFY(freshMeasurement(w.modules.tags.at(0)));
    QCOMPARE(column(ta, 0), QStringList({"1A2B", "3C4D", "5E6F"}));
    QVERIFY(boxAt(ta, 0, 6)->isChecked());
    QVERIFY(!boxAt(ta, 1, 6)->isChecked());
    QCOMPARE(column(tt, 0), QStringList({"7A8B"}));
    QVERIFY(w.tablesInSync);

    // The user edits names, positions and options; an identical list keeps all of it.
    edit(ta, 1, 1, "Ost");
    edit(ta, 1, 3, "120");
    edit(ta, 2, 4, "-75");
    edit(ta, 0, 7, "12");
    comboAt(ta, 2)->setCurrentIndex(5);
    edit(tt, 0, 1, "Wagen");
    boxAt(tt, 0, 8)->setChecked(true);
    const QStringList editedAnchors = {"1A2B|1A2B|#ff000000|0,0,0|M|12",
                                       "3C4D|Ost|#ff000000|120,0,0|-|0",
                                       "5E6F|5E6F|#ffaa00aa|0,-75,0|-|0"};
    const QStringList editedTags = {"7A8B|Wagen|#ff000000|0100010"};
    QCOMPARE(anchorsOf(w.modules), editedAnchors);
    QCOMPARE(tagsOf(w.modules), editedTags);
    w.dataReceived(kThree);
    QCOMPARE(anchorsOf(w.modules), editedAnchors);
    QCOMPARE(tagsOf(w.modules), editedTags);
    QCOMPARE(column(ta, 1), QStringList({"1A2B", "Ost", "5E6F"}));
    QCOMPARE(cell(ta, 1, 3), QString("120"));
    QCOMPARE(comboAt(ta, 2)->currentIndex(), 5);
    QVERIFY(boxAt(tt, 0, 8)->isChecked());

    // A list that drops one anchor and adds a tag: the rest keep place and data,
    // and the new tag comes after the old one.
    w.dataReceived("$PK,1A2B,1,2,5E6F,7A8B,ABCD\r\n");
    QCOMPARE(anchorsOf(w.modules), QStringList({editedAnchors.at(0), editedAnchors.at(2)}));
    QCOMPARE(tagsOf(w.modules), QStringList({editedTags.at(0), "ABCD|ABCD|#ff000000|0100000"}));
    QCOMPARE(ta->rowCount(), 2);
    QCOMPARE(tt->rowCount(), 2);

    // A second list with another master moves the flag; records keep their places.
    w.dataReceived("$PK,5E6F,1,0,1A2B\r\n");
    QCOMPARE(anchorsOf(w.modules), QStringList({"1A2B|1A2B|#ff000000|0,0,0|-|12",
                                                "5E6F|5E6F|#ffaa00aa|0,-75,0|M|0"}));
    QVERIFY(w.modules.tags.isEmpty());
    QVERIFY(!boxAt(ta, 0, 6)->isChecked());
    QVERIFY(boxAt(ta, 1, 6)->isChecked());
    // The master is always an anchor, even when the anchor fields leave it out.
    w.dataReceived("$PK,1A2B,0,0\r\n");
    QCOMPARE(anchorsOf(w.modules), QStringList({"1A2B|1A2B|#ff000000|0,0,0|M|12"}));

    // Fewer than four fields deletes every record.
    w.dataReceived(kThree);
    w.dataReceived("$PK\r\n");
    QVERIFY(w.modules.anchors.isEmpty());
    QVERIFY(w.modules.tags.isEmpty());
    QCOMPARE(ta->rowCount(), 0);
    QCOMPARE(tt->rowCount(), 0);
    w.dataReceived(kThree);
    w.dataReceived("$PK,1A2B,2\r\n");
    QVERIFY(w.modules.anchors.isEmpty());
    QVERIFY(w.modules.tags.isEmpty());

    // Letter case and blanks do not make a module new; the stored spelling stays.
    w.dataReceived("$PK,1a2b,1,1,3c4d,7a8b\r\n");
    edit(ta, 1, 1, "Ost");
    w.dataReceived("$PK, 1A2B ,1,1, 3C4D ,7A8B\r\n");
    QCOMPARE(anchorsOf(w.modules), QStringList({"1a2b|1a2b|#ff000000|0,0,0|M|0",
                                                "3c4d|Ost|#ff000000|0,0,0|-|0"}));
    QCOMPARE(tagsOf(w.modules), QStringList({"7a8b|7a8b|#ff000000|0100000"}));

    // The master's echo of a configuration upload (upper-cased ids) changes no record,
    // and the tables are rebuilt from them unchanged.
    w.modules.anchors = {Anchor("1a2b", "Haupt", colorList.at(7), 10, 20, 30, true, 4),
                         Anchor("3c4d", "Nord", colorList.at(1), -5, 300, 0, false, 0),
                         Anchor("5e6f", "Sued", colorList.at(2), 500, 0, 0, false, -7)};
    w.modules.tags = {Tag("7a8b", "Wagen", colorList.at(3), true, true, false, false, true, true, false)};
    giveMeasurement(w.modules.tags[0]);
    const QStringList uploadedA = anchorsOf(w.modules);
    const QStringList uploadedT = tagsOf(w.modules);
    w.dataReceived("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n");
    QCOMPARE(anchorsOf(w.modules), uploadedA);
    QCOMPARE(tagsOf(w.modules), uploadedT);
    QCOMPARE(w.modules.tags.at(0).avgX, 20);      // the record itself was kept
    QCOMPARE(column(ta, 1), QStringList({"Haupt", "Nord", "Sued"}));
    QCOMPARE(comboAt(ta, 0)->currentIndex(), 7);

    // A list naming the master among the anchors too makes two anchors with its id.
    w.dataReceived("$PK\r\n");
    w.dataReceived("$PK,1A2B,2,0,1A2B,3C4D\r\n");
    QCOMPARE(anchorsOf(w.modules), QStringList({"1A2B|1A2B|#ff000000|0,0,0|M|0",
                                                "1A2B|1A2B|#ff000000|0,0,0|M|0",
                                                "3C4D|3C4D|#ff000000|0,0,0|-|0"}));
    QCOMPARE(ta->rowCount(), 3);
}

void TestTables::moduleListRejected()
{
    MainWin w;
    w.dataReceived(kThree);
    edit(anchorTable(w), 1, 1, "Ost");
    const QStringList anchors = anchorsOf(w.modules);
    const QStringList tags = tagsOf(w.modules);

    const QList<QByteArray> rejected = {
        "$PK,1A2B,3,0,3C4D,5E6F\r\n",             // announces three anchors, carries two
        "$PK,1A2B,2,2,3C4D,5E6F,7A8B\r\n",        // announces two tags, carries one
        "$PK,1A2B,1,0\r\n",                       // announces an anchor, carries none
        "$PK,0,0,0\r\n",                          // zero master
        "$PK,0000,2,1,3C4D,5E6F,7A8B\r\n",
        "$PK,XYZ,2,1,3C4D,5E6F,7A8B\r\n",         // not hexadecimal
        "$PK,,2,1,3C4D,5E6F,7A8B\r\n",            // empty master field
        "$PK,1A2B,Z,1,3C4D,5E6F,7A8B\r\n",        // unreadable count
        "$PK,1A2B,2,,3C4D,5E6F,7A8B\r\n",
        "$PK,1A2B,-1,1,3C4D\r\n",
        "$PK,1A2B,FFFFFFFF,FFFFFFFF,3C4D\r\n",
        "$PK,1A2B,1,FFFFFFFFFFFFFFFF,3C4D,7A8B\r\n",
        "$PK,1A2B,FFFFFFFFFFFFFFFF,1,3C4D,7A8B\r\n",
        "$PK,1A2B,1FFFFFFFFFFFFFFFF,0,3C4D\r\n",  // beyond 64 bits
    };
    for (const QByteArray& line : rejected) {
        QElapsedTimer clock;
        clock.start();
        w.dataReceived(line);
        QVERIFY2(clock.elapsed() < 500, line.constData());   // huge counts cost nothing
        QVERIFY2(anchorsOf(w.modules) == anchors, line.constData());
        QVERIFY2(tagsOf(w.modules) == tags, line.constData());
        QCOMPARE(anchorTable(w)->rowCount(), 3);
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
    const QStringList anchors = anchorsOf(w.modules);
    const QStringList tags = tagsOf(w.modules);

    // Building the tables never writes the records: the master stays second and
    // the measurement state is untouched.
    w.fillAnchorTable();
    w.fillTagTable();
    QVERIFY(w.tablesInSync);
    QCOMPARE(anchorsOf(w.modules), anchors);
    QCOMPARE(tagsOf(w.modules), tags);
    QCOMPARE(w.modules.tags.at(1).avgX, 20);

    // Cells as built.
    QCOMPARE(ta->rowCount(), 3);
    QCOMPARE(column(ta, 0), QStringList({"3c4d", "1a2b", "5e6f"}));
    QCOMPARE(column(ta, 1), QStringList({"Nord", "Haupt", ""}));
    QCOMPARE(column(ta, 3), QStringList({"100", "0", "2147483647"}));
    QCOMPARE(column(ta, 4), QStringList({"-200", "0", "-2147483648"}));
    QCOMPARE(column(ta, 5), QStringList({"30", "250", "0"}));
    QCOMPARE(column(ta, 7), QStringList({"5", "-3", "0"}));
    QVERIFY(!(ta->item(0, 0)->flags() & Qt::ItemIsEditable));
    for (int c : {1, 3, 4, 5, 7})
        QVERIFY(ta->item(0, c)->flags() & Qt::ItemIsEditable);
    QVERIFY(!(tt->item(0, 0)->flags() & Qt::ItemIsEditable));
    QVERIFY(tt->item(0, 1)->flags() & Qt::ItemIsEditable);
    QVERIFY(boxAt(ta, 1, 6)->isChecked());
    QVERIFY(!boxAt(ta, 1, 6)->isEnabled());
    QCOMPARE(cell(ta, 1, 6), QString());
    QCOMPARE(cell(ta, 1, 2), QString());
    QCOMPARE(comboAt(ta, 1)->count(), 11);
    QCOMPARE(comboAt(ta, 1)->currentIndex(), 7);
    QCOMPARE(comboAt(ta, 1)->maxVisibleItems(), 12);
    QVERIFY(comboAt(ta, 1)->autoFillBackground());
    auto* layout = qobject_cast<QHBoxLayout*>(ta->cellWidget(1, 6)->layout());
    QVERIFY(layout);
    QCOMPARE(layout->alignment(), Qt::AlignCenter);
    QCOMPARE(layout->contentsMargins(), QMargins());
    const QList<bool> flags0 = {true, false, true, false, true, false, true};
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(boxAt(tt, 0, 3 + c)->isChecked(), flags0.at(c));
        QCOMPARE(boxAt(tt, 1, 3 + c)->isChecked(), !flags0.at(c));
        QVERIFY(boxAt(tt, 0, 3 + c)->isEnabled());
    }

    // Read back unchanged, apart from the master moving to the front.
    w.readAnchorTable();
    w.readTagTable();
    QCOMPARE(anchorsOf(w.modules), QStringList({anchors.at(1), anchors.at(0), anchors.at(2)}));
    QCOMPARE(tagsOf(w.modules), tags);
    QVERIFY(freshMeasurement(w.modules.tags.at(0)));

    // Empty lists give empty tables, still in sync.
    w.modules = ModuleSetup();
    w.fillAnchorTable();
    w.fillTagTable();
    QCOMPARE(ta->rowCount(), 0);
    QCOMPARE(tt->rowCount(), 0);
    QVERIFY(w.tablesInSync);
}

void TestTables::tableEdits()
{
    MainWin w;
    QTableWidget* ta = anchorTable(w);
    QTableWidget* tt = tagTable(w);
    loadSample(w);
    w.fillAnchorTable();
    w.fillTagTable();

    // Three rows, only the second one master: after any edit the master comes first.
    edit(ta, 2, 1, "Sued");
    QCOMPARE(anchorsOf(w.modules),
             QStringList({"1a2b|Haupt|#ffff9922|0,0,250|M|-3", "3c4d|Nord|#ffff0000|100,-200,30|-|5",
                          "5e6f|Sued|#ffff2299|2147483647,-2147483648,0|-|0"}));

    // Names are taken as typed; numbers are trimmed; anything not a number is 0
    // while the cell keeps what was typed.
    edit(ta, 0, 1, "  Nord 2 ");
    QCOMPARE(w.modules.anchors.at(1).name, QString("  Nord 2 "));
    edit(ta, 0, 4, " 250 ");
    QCOMPARE(w.modules.anchors.at(1).y, 250);
    edit(ta, 0, 3, "12a");
    QCOMPARE(w.modules.anchors.at(1).x, 0);
    QCOMPARE(cell(ta, 0, 3), QString("12a"));
    edit(ta, 0, 7, "");
    QCOMPARE(w.modules.anchors.at(1).offset, 0);
    edit(ta, 0, 7, "99999999999");
    QCOMPARE(w.modules.anchors.at(1).offset, 0);
    edit(ta, 0, 7, "-40");
    QCOMPARE(w.modules.anchors.at(1).offset, -40);
    QCOMPARE(w.modules.anchors.at(0).id, QString("1a2b"));   // the master stays in front

    // Ticking a display option rebuilds every tag, so all measurement states start afresh.
    for (Tag& t : w.modules.tags)
        giveMeasurement(t);
    boxAt(tt, 1, 3)->setChecked(true);
    QCOMPARE(tagsOf(w.modules), QStringList({"7a8b|Wagen|#ff0000ff|1010101",
                                             "9c0d|Kiste|#ff000000|1101010"}));
    for (const Tag& t : w.modules.tags)
        QVERIFY(freshMeasurement(t));
    // The same for a name.
    for (Tag& t : w.modules.tags)
        giveMeasurement(t);
    edit(tt, 0, 1, "Auto");
    QCOMPARE(w.modules.tags.at(0).name, QString("Auto"));
    for (const Tag& t : w.modules.tags)
        QVERIFY(freshMeasurement(t));
    // Every one of the seven boxes lands in its own field.
    const char* const expect[] = {"0010101", "0110101", "0100101", "0101101", "0101001", "0101011",
                                  "0101010"};
    for (int c = 0; c < 7; ++c) {
        QCheckBox* box = boxAt(tt, 0, 3 + c);
        box->setChecked(!box->isChecked());
        QCOMPARE(describe(w.modules.tags.at(0)).section('|', 3), QString(expect[c]));
    }

    // While the flag is down the slots stay silent.
    const QStringList anchors = anchorsOf(w.modules);
    const QStringList tags = tagsOf(w.modules);
    w.tablesInSync = false;
    edit(ta, 1, 1, "still");
    boxAt(tt, 0, 3)->setChecked(true);
    comboAt(ta, 1)->setCurrentIndex(2);
    comboAt(tt, 1)->setCurrentIndex(2);
    QCOMPARE(anchorsOf(w.modules), anchors);
    QCOMPARE(tagsOf(w.modules), tags);
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

    // A colour not among the eleven becomes a twelfth item, selected.
    QFlatComboBox* odd = comboAt(ta, 0);
    QCOMPARE(odd->count(), 12);
    QCOMPARE(odd->currentIndex(), 11);
    QCOMPARE(odd->itemData(11).value<QColor>(), QColor(1, 2, 3));
    QCOMPARE(odd->itemData(11, Qt::BackgroundRole).value<QColor>(), QColor(1, 2, 3));
    QCOMPARE(cellColor(ta, 0, 2), QColor(1, 2, 3));
    QFlatComboBox* invalid = comboAt(ta, 2);
    QCOMPARE(invalid->count(), 12);
    QCOMPARE(invalid->currentIndex(), 11);
    QVERIFY(!cellColor(ta, 2, 2).isValid());
    QCOMPARE(comboAt(ta, 1)->count(), 11);
    QCOMPARE(comboAt(tt, 1)->count(), 12);
    QCOMPARE(cellColor(tt, 1, 2), QColor(1, 2, 3, 128));
    // ... and they survive a read-back.
    w.readAnchorTable();
    w.readTagTable();
    QCOMPARE(w.modules.anchors.at(1).color, QColor(1, 2, 3));
    QVERIFY(!w.modules.anchors.at(2).color.isValid());
    QCOMPARE(w.modules.tags.at(1).color, QColor(1, 2, 3, 128));

    // Cells without a combo box give opaque black, never an invalid colour.
    QCOMPARE(cellColor(ta, 0, 1), QColor(0, 0, 0, 255));
    QCOMPARE(cellColor(ta, 0, 6), QColor(0, 0, 0, 255));
    QCOMPARE(cellColor(ta, 7, 2), QColor(0, 0, 0, 255));
    QCOMPARE(cellColor(nullptr, 0, 2), QColor(0, 0, 0, 255));
    QVERIFY(!isCellChecked(ta, 0, 2));
    QVERIFY(!isCellChecked(ta, -1, 6));

    // Choosing a colour: the record follows, and the box, its list highlight and
    // its field all show it.
    QFlatComboBox* chosen = comboAt(ta, 1);
    chosen->setCurrentIndex(8);
    QCOMPARE(w.modules.anchors.at(0).color, colorList.at(8));
    QVERIFY(paletteShows(chosen, colorList.at(8), true));
    QVERIFY(paletteShows(comboAt(ta, 0), QColor(1, 2, 3), true));
    QCOMPARE(comboAt(ta, 1), chosen);        // reading back does not rebuild the table
    comboAt(tt, 0)->setCurrentIndex(9);
    QCOMPARE(w.modules.tags.at(0).color, colorList.at(9));
    QVERIFY(paletteShows(comboAt(tt, 0), colorList.at(9), true));
    // A freshly built box shows its colour as field and background too (the
    // read-back put the master, whose colour was chosen, into the first row).
    w.fillAnchorTable();
    QVERIFY(paletteShows(comboAt(ta, 0), colorList.at(8), false));
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
    flushDeletes();
    QCOMPARE(combosIn(ta), 3);
    QCOMPARE(boxesIn(ta), 3);
    QCOMPARE(combosIn(tt), 2);
    QCOMPARE(boxesIn(tt), 14);

    // Refilling a table that holds rows leaves no old widgets behind.
    for (int i = 0; i < 5; ++i) {
        w.fillAnchorTable();
        w.fillTagTable();
    }
    w.modules.anchors.removeLast();
    w.modules.tags.removeLast();
    w.fillAnchorTable();
    w.fillTagTable();
    flushDeletes();
    QCOMPARE(combosIn(ta), 2);
    QCOMPARE(boxesIn(ta), 2);
    QCOMPARE(combosIn(tt), 1);
    QCOMPARE(boxesIn(tt), 7);

    // A module list arriving from inside a colour box's own signal rebuilds the table
    // under that box: no crash, the choice is kept, nothing leaks.
    w.dataReceived(kThree);
    flushDeletes();
    QPointer<QFlatComboBox> box = comboAt(ta, 1);
    connect(box.data(), QOverload<int>::of(&QComboBox::currentIndexChanged), &w,
            [&w](int) { w.dataReceived(kThree); });
    box->setCurrentIndex(4);
    QVERIFY(box);                                    // still alive until control returns
    QVERIFY(comboAt(ta, 1) != box);
    flushDeletes();
    QVERIFY(!box);
    QCOMPARE(combosIn(ta), 3);
    QCOMPARE(boxesIn(ta), 3);
    QCOMPARE(w.modules.anchors.at(1).color, colorList.at(4));
    QCOMPARE(comboAt(ta, 1)->currentIndex(), 4);
    QVERIFY(paletteShows(comboAt(ta, 1), colorList.at(4), false));

    // The same through the opened list, as the user picks an item.
    QPointer<QFlatComboBox> tagBox = comboAt(tt, 0);
    connect(tagBox.data(), QOverload<int>::of(&QComboBox::currentIndexChanged), &w, [&w](int) {
        w.fillAnchorTable();
        w.fillTagTable();
    });
    tagBox->showPopup();
    QAbstractItemView* list = tagBox->view();
    QVERIFY(waitUntil([&] { return list->isVisible(); }, 2000));
    list->setCurrentIndex(list->model()->index(6, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(!list->isVisible());
    flushDeletes();
    QVERIFY(!tagBox);
    QCOMPARE(w.modules.tags.at(0).color, colorList.at(6));
    QCOMPARE(comboAt(tt, 0)->currentIndex(), 6);
    QCOMPARE(combosIn(tt), 1);
    QCOMPARE(boxesIn(tt), 7);
    QCOMPARE(combosIn(ta), 3);

    // A check box whose toggle rebuilds its own table.
    QPointer<QCheckBox> check = boxAt(tt, 0, 5);
    connect(check.data(), &QCheckBox::toggled, &w, [&w](bool) { w.fillTagTable(); });
    QTest::mouseClick(check.data(), Qt::LeftButton);
    flushDeletes();
    QVERIFY(!check);
    QVERIFY(w.modules.tags.at(0).showDistRaw);
    QVERIFY(boxAt(tt, 0, 5)->isChecked());
    QCOMPARE(boxesIn(tt), 7);
}

void TestTables::flatComboBox()
{
    auto filled = [](QFlatComboBox& c) {
        for (int i = 0; i < colorList.size(); ++i)
            addColorItem(&c, i, colorList.at(i));
    };

    // The list: eleven opaque colours, each item shows its colour and no text.
    QCOMPARE(colorList.size(), 11);
    QCOMPARE(colorList.at(7), QColor(255, 153, 34));
    for (const QColor& c : colorList)
        QCOMPARE(c.alpha(), 255);
    QFlatComboBox combo;
    filled(combo);
    QCOMPARE(combo.count(), 11);
    for (int i = 0; i < 11; ++i) {
        QCOMPARE(combo.itemText(i), QString());
        QCOMPARE(combo.itemData(i, Qt::BackgroundRole).value<QColor>(), colorList.at(i));
    }

    // A colour written as its name selects the same item.
    selectColor(&combo, QColor("#ff9922"), true);
    QCOMPARE(combo.currentIndex(), 7);
    QCOMPARE(combo.count(), 11);
    QCOMPARE(combo.palette().color(QPalette::Window), colorList.at(7));
    QCOMPARE(combo.palette().color(QPalette::Base), colorList.at(7));

    // Unknown colour, not to be added: nothing changes.
    selectColor(&combo, colorList.at(3), false);
    const QPalette before = combo.palette();
    selectColor(&combo, QColor(9, 9, 9), false);
    QCOMPARE(combo.currentIndex(), 3);
    QCOMPARE(combo.count(), 11);
    QCOMPARE(combo.palette(), before);
    // ... to be added: a twelfth item, current.
    selectColor(&combo, QColor(9, 9, 9), true);
    QCOMPARE(combo.count(), 12);
    QCOMPARE(combo.currentIndex(), 11);
    QCOMPARE(combo.palette().color(QPalette::Window), QColor(9, 9, 9));
    selectColor(nullptr, Qt::red, true);
    addColorItem(nullptr, 0, Qt::red);

    // Painted flat: the whole field in the selected colour.
    combo.resize(60, 24);
    selectColor(&combo, colorList.at(1), true);
    const QImage red = combo.grab().toImage();
    QCOMPARE(QColor(red.pixel(5, 5)), QColor(255, 0, 0));
    QCOMPARE(QColor(red.pixel(25, 20)), QColor(255, 0, 0));

    // On a black field (the colour of every new module) the arrow still shows.
    selectColor(&combo, colorList.at(0), true);
    const QImage black = combo.grab().toImage();
    int light = 0;
    for (int y = 0; y < black.height(); ++y)
        for (int x = 0; x < black.width(); ++x) {
            const bool inArrow = x >= int((60 - 16) * black.devicePixelRatio());
            if (qGray(black.pixel(x, y)) > 128) {
                QVERIFY2(inArrow, qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
                ++light;
            }
        }
    QVERIFY(light > 0);

    // An empty box paints a white field with only the arrow at its right edge.
    QFlatComboBox empty;
    empty.resize(80, 24);
    const QImage blank = empty.grab().toImage();
    const qreal dpr = blank.devicePixelRatio();
    const int arrowStart = int((80 - 16) * dpr);
    int dark = 0;
    for (int y = 0; y < blank.height(); ++y)
        for (int x = 0; x < blank.width(); ++x) {
            const bool white = QColor(blank.pixel(x, y)) == QColor(Qt::white);
            if (x < arrowStart)
                QVERIFY2(white, qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
            else if (!white)
                ++dark;
        }
    QVERIFY(dark > 0);
    QFlatComboBox left;
    left.resize(80, 24);
    left.setArrowAlignment(Qt::AlignLeft);
    const QImage leftImage = left.grab().toImage();
    QCOMPARE(QColor(leftImage.pixel(leftImage.width() - 3, 12)), QColor(Qt::white));

    // A press announces the pull-down before the list opens.
    QSignalSpy pulls(&combo, &QFlatComboBox::aboutToPullDown);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    bool openAtSignal = true;
    connect(&combo, &QFlatComboBox::aboutToPullDown, &combo,
            [&] { openAtSignal = combo.view()->isVisible(); });
    QTest::mousePress(&combo, Qt::LeftButton, Qt::NoModifier, QPoint(20, 12));
    QCOMPARE(pulls.count(), 1);
    QVERIFY(!openAtSignal);
    combo.hidePopup();
    QTest::mouseRelease(&combo, Qt::LeftButton, Qt::NoModifier, QPoint(20, 12));
    // An editable box: a press in its edit field is just editing.
    QFlatComboBox editable;
    editable.setFlat(false);
    editable.setEditable(true);
    editable.resize(120, 24);
    editable.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editable));
    QSignalSpy editPulls(&editable, &QFlatComboBox::aboutToPullDown);
    const QPoint inEdit = editable.lineEdit()->geometry().center();
    QTest::mousePress(&editable, Qt::LeftButton, Qt::NoModifier, inEdit);
    QTest::mouseRelease(&editable, Qt::LeftButton, Qt::NoModifier, inEdit);
    QCOMPARE(editPulls.count(), 0);
}

void TestTables::statusLabel()
{
    MainWin w;
    MasterInfo* info = w.findChild<MasterInfo*>();
    QVERIFY(info);
    QCOMPARE(info, w.masterInfo);
    QVERIFY(w.statusBar()->isAncestorOf(info));
    QCOMPARE(info->text(), QString());

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
    clock += 5000;
    check();
    QCOMPARE(info->text(), identity);
    clock += 1;
    check();
    QCOMPARE(info->text(), silent);

    // Every kind of packet brings the identity back at the next check.
    const QList<QByteArray> lines = {"$PD,1A2B,1F4,0,3E8\r\n", kThree, "$PR,1234\r\n",
                                     "$PW,1,3C4D\r\n", "$PX,1A2B,2.1\r\n"};
    for (const QByteArray& line : lines) {
        clock += 7000;
        check();
        QCOMPARE(info->text(), silent);
        w.dataReceived(line);
        check();
        QVERIFY2(info->text() == identity, line.constData());
    }
    // An unknown packet letter and a short 'X' line are no sign of life.
    clock += 7000;
    w.dataReceived("$PQ,1\r\n");
    check();
    QCOMPARE(info->text(), silent);
    w.dataReceived("$PX,1A2B\r\n");
    QCOMPARE(info->text(), QString());
    check();
    QCOMPARE(info->text(), silent);

    // Connecting and disconnecting clear the identity at once.
    PtyPair pty;
    QVERIFY(pty.isValid());
    w.dataReceived("$PX,1A2B,2.1\r\n");
    QCOMPARE(info->text(), identity);
    w.findChild<QComboBox*>("cmbComPort")->setEditText(pty.slavePath());
    w.connectPort();
    QVERIFY(w.com.isOpen());
    QCOMPARE(info->text(), QString());
    pty.send("$PX,3C4D,2.2\r\n");
    QVERIFY(waitUntil([&] { return info->text() == "Master ID: 3C4D - Version: 2.2"; }, 2000));
    w.disconnectPort();
    QCOMPARE(info->text(), QString());
    // A failed attempt clears it too.
    ModalAnswerer boxes;
    w.dataReceived("$PX,1A2B,2.1\r\n");
    w.findChild<QComboBox*>("cmbComPort")->setEditText("/dev/does-not-exist-orvane");
    w.connectPort();
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(info->text(), QString());
    // Disconnected, the next check finds the master silent.
    clock += 5001;
    check();
    QCOMPARE(info->text(), silent);
}

QTEST_MAIN(TestTables)
#include "tst_tables.moc"
