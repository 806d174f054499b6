#ifndef MODULETABLES_H
#define MODULETABLES_H

#include "anchor.h"
#include "tag.h"

#include <QList>

class QCheckBox;
class QFlatComboBox;
class QTableWidget;

// The main window's anchor and tag tables, built whole from the records and
// read back whole into fresh records.
namespace ModuleTables {

// The editors a built table holds, for the caller to connect.
struct Editors
{
    QList<QFlatComboBox*> colours;
    QList<QCheckBox*> checkBoxes;
};

void setUpColumns(QTableWidget* anchorTable, QTableWidget* tagTable);
// Brings a table that already holds these modules, row for row by id, in line
// with the records in place: cells change only where a value differs, and no
// cell widget is replaced. False, and nothing touched, when the rows differ.
bool updateAnchors(QTableWidget* table, const QList<Anchor>& anchors);
bool updateTags(QTableWidget* table, const QList<Tag>& tags);
Editors fillAnchors(QTableWidget* table, const QList<Anchor>& anchors);
Editors fillTags(QTableWidget* table, const QList<Tag>& tags);
// The master first, then the other anchors in table order.
QList<Anchor> readAnchors(QTableWidget* table);
QList<Tag> readTags(QTableWidget* table);
// Each colour cell's combo box painted in the colour it shows.
void recolourCombos(QTableWidget* table);

} // namespace ModuleTables

#endif
