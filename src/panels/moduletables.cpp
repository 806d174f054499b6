#include "moduletables.h"

#include "qflatcombobox.h"
#include "rotatedheaderview.h"
#include "tablecells.h"

#include <QCheckBox>
#include <QPalette>
#include <QTableWidget>

namespace {
QString cellText(QTableWidget* t, int row, int column)
{
    const QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
}
int cellInt(QTableWidget* t, int row, int column)
{
    return cellText(t, row, column).trimmed().toInt();
}
// The same identifiers in the same rows.
template <class Module>
bool sameRows(QTableWidget* t, const QList<Module>& modules)
{
    if (t->rowCount() != modules.size())
        return false;
    for (int r = 0; r < modules.size(); ++r)
        if (cellText(t, r, 0) != modules.at(r).id)
            return false;
    return true;
}

void updateText(QTableWidget* t, int row, int column, const QString& text)
{
    QTableWidgetItem* item = t->item(row, column);
    if (item && item->text() != text)
        item->setText(text);
}

void updateCheck(QTableWidget* t, int row, int column, bool on)
{
    QWidget* cell = t->cellWidget(row, column);
    auto* box = cell ? cell->findChild<QCheckBox*>() : nullptr;
    if (box && box->isChecked() != on)
        box->setChecked(on);
}

void updateColour(QTableWidget* t, int row, const QColor& color)
{
    QWidget* cell = t->cellWidget(row, 2);
    auto* combo = cell ? cell->findChild<QFlatComboBox*>() : nullptr;
    if (combo && cellColor(t, row, 2) != color)
        selectColor(combo, color, true);
}

} // namespace

namespace ModuleTables {

bool updateAnchors(QTableWidget* t, const QList<Anchor>& anchors)
{
    if (!sameRows(t, anchors))
        return false;
    for (int i = 0; i < anchors.size(); ++i) {
        const Anchor& a = anchors.at(i);
        updateText(t, i, 1, a.name);
        updateColour(t, i, a.color);
        updateText(t, i, 3, QString::number(a.x));
        updateText(t, i, 4, QString::number(a.y));
        updateText(t, i, 5, QString::number(a.z));
        updateCheck(t, i, 6, a.master);
        updateText(t, i, 7, QString::number(a.offset));
    }
    return true;
}

bool updateTags(QTableWidget* t, const QList<Tag>& tags)
{
    if (!sameRows(t, tags))
        return false;
    for (int i = 0; i < tags.size(); ++i) {
        const Tag& g = tags.at(i);
        updateText(t, i, 1, g.name);
        updateColour(t, i, g.color);
        const bool flags[] = {g.showPosRaw, g.showPosAvg, g.showDistRaw, g.showDistAvg,
                              g.showCoordinates, g.showSpeed, g.showRate, g.showUncertainty, g.showTrail};
        for (int c = 0; c < 9; ++c)
            updateCheck(t, i, 3 + c, flags[c]);
    }
    return true;
}

void setUpColumns(QTableWidget* anchorTable, QTableWidget* tagTable)
{
    const int anchorWidths[] = {45, 80, 40, 52, 52, 52, 25, 40};
    for (int c = 0; c < 8; ++c)
        anchorTable->setColumnWidth(c, anchorWidths[c]);
    // The display switches' headers stand upright over their narrow columns.
    tagTable->setHorizontalHeader(new RotatedHeaderView(3, tagTable));
    const int tagWidths[] = {45, 72, 40, 25, 25, 25, 25, 25, 25, 25, 25, 25};
    for (int c = 0; c < 12; ++c)
        tagTable->setColumnWidth(c, tagWidths[c]);
    fitColumnsToHeaders(anchorTable, false);
    // The Z column matters only once the tags' height is set (fitted above, so
    // it shows its whole header when it appears).
    anchorTable->setColumnHidden(5, true);
    fitColumnsToHeaders(tagTable, true);
}

Editors fillAnchors(QTableWidget* t, const QList<Anchor>& anchors)
{
    Editors editors;
    clearTable(t);
    for (int i = 0; i < anchors.size(); ++i) {
        const Anchor& a = anchors.at(i);
        t->insertRow(i);
        setTextCell(t, i, 0, a.id, false);
        setTextCell(t, i, 1, a.name, true);
        editors.colours << setColorComboCell(t, i, 2, a.color);
        setTextCell(t, i, 3, QString::number(a.x), true);
        setTextCell(t, i, 4, QString::number(a.y), true);
        setTextCell(t, i, 5, QString::number(a.z), true);
        setCheckBoxCell(t, i, 6, a.master, false);
        setTextCell(t, i, 7, QString::number(a.offset), true);
    }
    return editors;
}

Editors fillTags(QTableWidget* t, const QList<Tag>& tags)
{
    Editors editors;
    clearTable(t);
    for (int i = 0; i < tags.size(); ++i) {
        const Tag& g = tags.at(i);
        t->insertRow(i);
        setTextCell(t, i, 0, g.id, false);
        setTextCell(t, i, 1, g.name, true);
        editors.colours << setColorComboCell(t, i, 2, g.color);
        const bool flags[] = {g.showPosRaw, g.showPosAvg, g.showDistRaw, g.showDistAvg,
                              g.showCoordinates, g.showSpeed, g.showRate, g.showUncertainty, g.showTrail};
        for (int c = 0; c < 9; ++c)
            editors.checkBoxes << setCheckBoxCell(t, i, 3 + c, flags[c], true);
    }
    return editors;
}

QList<Anchor> readAnchors(QTableWidget* t)
{
    QList<Anchor> anchors;
    for (int pass = 0; pass < 2; ++pass) {
        const bool wantMaster = pass == 0;
        for (int r = 0; r < t->rowCount(); ++r) {
            if (isCellChecked(t, r, 6) != wantMaster)
                continue;
            anchors.append(Anchor(cellText(t, r, 0), cellText(t, r, 1), cellColor(t, r, 2), cellInt(t, r, 3),
                                  cellInt(t, r, 4), cellInt(t, r, 5), wantMaster, cellInt(t, r, 7)));
        }
    }
    return anchors;
}

QList<Tag> readTags(QTableWidget* t)
{
    QList<Tag> tags;
    for (int r = 0; r < t->rowCount(); ++r) {
        tags.append(Tag(cellText(t, r, 0), cellText(t, r, 1), cellColor(t, r, 2), isCellChecked(t, r, 3),
                        isCellChecked(t, r, 4), isCellChecked(t, r, 5), isCellChecked(t, r, 6),
                        isCellChecked(t, r, 7), isCellChecked(t, r, 8), isCellChecked(t, r, 9)));
        tags.last().showUncertainty = isCellChecked(t, r, 10);
        tags.last().showTrail = isCellChecked(t, r, 11);
    }
    return tags;
}

void recolourCombos(QTableWidget* t)
{
    for (int r = 0; r < t->rowCount(); ++r) {
        QWidget* cell = t->cellWidget(r, 2);
        auto* combo = cell ? cell->findChild<QFlatComboBox*>() : nullptr;
        if (!combo || combo->currentIndex() < 0 || combo->currentIndex() >= combo->count())
            continue;
        const QColor color = combo->currentData(Qt::UserRole).value<QColor>();
        QPalette palette = combo->palette();
        for (QPalette::ColorRole role : {QPalette::Window, QPalette::Highlight, QPalette::Base})
            palette.setBrush(QPalette::All, role, QBrush(color));
        combo->setPalette(palette);
    }
}

} // namespace ModuleTables
