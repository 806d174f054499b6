#ifndef ROLECELLS_H
#define ROLECELLS_H

#include <QMap>
#include <QString>

class QComboBox;
class QTableWidget;

// Builds a role combo cell. A master row offers "Master" alone; every other
// row offers the three remaining roles. The item data is the ModuleRole value.
QComboBox* setRoleComboCell(QTableWidget* table, int row, int column,
                            const QMap<QString, int>& roleNames, bool enabled, int role);

// The ModuleRole of the role combo in that cell; 0 (not used) when there is none.
int roleCellValue(QTableWidget* table, int row, int column);

#endif
