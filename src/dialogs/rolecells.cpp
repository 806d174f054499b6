#include "rolecells.h"

#include "discoverytypes.h"
#include "tablecells.h"

#include <QComboBox>
#include <QTableWidget>

QComboBox* setRoleComboCell(QTableWidget* table, int row, int column,
                            const QMap<QString, int>& roleNames, bool enabled, int role)
{
    if (!table)
        return nullptr;
    table->setItem(row, column, new QTableWidgetItem(QString()));
    auto* combo = new QComboBox;
    // The master cannot be demoted here, and no other row can become master.
    const bool masterRow = role == RoleMaster;
    for (auto it = roleNames.constBegin(); it != roleNames.constEnd(); ++it) {
        if ((it.value() == RoleMaster) == masterRow)
            combo->addItem(it.key(), it.value());
    }
    combo->setCurrentIndex(combo->findData(role));
    combo->setEnabled(enabled);
    putCellWidget(table, row, column, makeCentredCell(combo));
    return combo;
}

int roleCellValue(QTableWidget* table, int row, int column)
{
    if (!table || row < 0 || row >= table->rowCount() || column < 0 || column >= table->columnCount())
        return 0;
    QWidget* cell = table->cellWidget(row, column);
    if (!cell)
        return 0;
    auto* combo = qobject_cast<QComboBox*>(cell);
    if (!combo)
        combo = cell->findChild<QComboBox*>();
    if (!combo || combo->currentIndex() < 0)
        return 0;
    return combo->currentData().toInt();
}
