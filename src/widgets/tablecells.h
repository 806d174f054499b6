#ifndef TABLECELLS_H
#define TABLECELLS_H

#include <QColor>
#include <QString>

class QCheckBox;
class QTableWidget;
class QWidget;
class QFlatComboBox;

// Cell operations shared by the main window's tables and the discovery dialog.
void setTextCell(QTableWidget* table, int row, int column, const QString& text, bool editable);
QCheckBox* setCheckBoxCell(QTableWidget* table, int row, int column, bool checked, bool enabled);
QFlatComboBox* setColorComboCell(QTableWidget* table, int row, int column, const QColor& color);
QColor cellColor(QTableWidget* table, int row, int column);
bool isCellChecked(QTableWidget* table, int row, int column);
void setCellBackground(QTableWidget* table, int row, int column, const QColor& color);
void removeTableRow(QTableWidget* table, int row);
void clearTable(QTableWidget* table);

// Widens the columns whose header, or a four-digit identifier in column 0,
// would be cut short; with wrap, headers of several words may take two lines.
// The table then keeps every column and row in view.
void fitColumnsToHeaders(QTableWidget* table, bool wrap);

// Sets a cell's widget and puts it in its cell at once.
void putCellWidget(QTableWidget* table, int row, int column, QWidget* widget);

// The centring container used by check-box, colour and role cells.
QWidget* makeCentredCell(QWidget* content);

#endif
