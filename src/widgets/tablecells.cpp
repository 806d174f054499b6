#include "tablecells.h"

#include "rotatedheaderview.h"

#include "qflatcombobox.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>
#include <QWidget>

namespace {

bool validCell(QTableWidget* table, int row, int column)
{
    return table && row >= 0 && row < table->rowCount() && column >= 0 && column < table->columnCount();
}

void putEmptyItem(QTableWidget* table, int row, int column)
{
    table->setItem(row, column, new QTableWidgetItem(QString()));
}

} // namespace

void putCellWidget(QTableWidget* table, int row, int column, QWidget* widget)
{
    table->setCellWidget(row, column, widget);
    // In its cell at once: until the view lays its items out (a pass of the
    // event loop later, or much later inside a blocking exchange) a new cell
    // widget would lie over the first cell.
    if (widget)
        widget->setGeometry(table->visualRect(table->model()->index(row, column)));
}

QWidget* makeCentredCell(QWidget* content)
{
    auto* container = new QWidget;
    auto* layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignCenter);
    layout->addWidget(content);
    return container;
}

void setTextCell(QTableWidget* table, int row, int column, const QString& text, bool editable)
{
    if (!table)
        return;
    auto* item = new QTableWidgetItem(text);
    if (editable)
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    else
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table->setItem(row, column, item);
}

QCheckBox* setCheckBoxCell(QTableWidget* table, int row, int column, bool checked, bool enabled)
{
    if (!table)
        return nullptr;
    putEmptyItem(table, row, column);
    auto* box = new QCheckBox;
    box->setChecked(checked);
    box->setEnabled(enabled);
    putCellWidget(table, row, column, makeCentredCell(box));
    return box;
}

QFlatComboBox* setColorComboCell(QTableWidget* table, int row, int column, const QColor& color)
{
    if (!table)
        return nullptr;
    putEmptyItem(table, row, column);
    auto* combo = new QFlatComboBox;
    combo->setAutoFillBackground(true);
    combo->setMaxVisibleItems(12);
    for (int i = 0; i < colorList.size(); ++i)
        addColorItem(combo, i, colorList.at(i));
    selectColor(combo, color, true);
    putCellWidget(table, row, column, makeCentredCell(combo));
    return combo;
}

QColor cellColor(QTableWidget* table, int row, int column)
{
    const QColor black(0, 0, 0, 255);
    if (!validCell(table, row, column))
        return black;
    QWidget* cell = table->cellWidget(row, column);
    if (!cell)
        return black;
    auto* combo = qobject_cast<QFlatComboBox*>(cell);
    if (!combo)
        combo = cell->findChild<QFlatComboBox*>();
    if (!combo || combo->currentIndex() < 0)
        return black;
    return combo->currentData(Qt::UserRole).value<QColor>();
}

bool isCellChecked(QTableWidget* table, int row, int column)
{
    if (!validCell(table, row, column))
        return false;
    QWidget* cell = table->cellWidget(row, column);
    if (!cell)
        return false;
    auto* box = qobject_cast<QCheckBox*>(cell);
    if (!box)
        box = cell->findChild<QCheckBox*>();
    return box && box->isChecked();
}

void setCellBackground(QTableWidget* table, int row, int column, const QColor& color)
{
    if (!validCell(table, row, column))
        return;
    if (QTableWidgetItem* item = table->item(row, column))
        item->setData(Qt::BackgroundRole, color);
}

void removeTableRow(QTableWidget* table, int row)
{
    if (!table || row < 0 || row >= table->rowCount())
        return;
    for (int column = 0; column < table->columnCount(); ++column) {
        if (QWidget* cell = table->cellWidget(row, column)) {
            // The removal may run inside a signal of this very widget, so it
            // goes later; out of sight now, or it would stay over the table
            // until then (inside a blocking exchange, for a while).
            cell->hide();
            cell->deleteLater();
            table->setCellWidget(row, column, nullptr);
        }
    }
    table->removeRow(row);
}

void clearTable(QTableWidget* table)
{
    if (!table)
        return;
    for (int row = table->rowCount() - 1; row >= 0; --row)
        removeTableRow(table, row);
    table->clearContents();
    table->setRowCount(0);
}

void fitColumnsToHeaders(QTableWidget* t, bool wrap)
{
    if (!t)
        return;
    QHeaderView* header = t->horizontalHeader();
    const QFontMetrics fm = header->fontMetrics();
    // The header's own size hint keeps room for a sort indicator these tables never show.
    const int margins = 2 * t->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
    const int idWidth = t->fontMetrics().horizontalAdvance(QStringLiteral("DDDD"))
                        + 2 * (t->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, t) + 1) + 4;
    const auto* rotated = qobject_cast<const RotatedHeaderView*>(header);
    bool wrapped = false;
    for (int c = 0; c < t->columnCount(); ++c) {
        if (t->isColumnHidden(c) || !t->horizontalHeaderItem(c))
            continue;
        const QString text = t->horizontalHeaderItem(c)->text();
        // An upright header needs one line's width, whatever its length.
        if (rotated && rotated->isRotated(c)) {
            t->setColumnWidth(c, qMax(t->columnWidth(c), rotated->rotatedWidth()));
            continue;
        }
        const int line = fm.horizontalAdvance(text) + margins;
        int word = 0;   // a wrapping header needs room for its longest word only
        for (const QString& w : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            word = qMax(word, fm.horizontalAdvance(w) + margins);
        const int width = qMax(qMax(t->columnWidth(c), wrap ? word : line), c == 0 ? idWidth : 0);
        wrapped = wrapped || width < line;
        t->setColumnWidth(c, width);
    }
    if (wrapped) {
        header->setDefaultAlignment(Qt::Alignment(QFlag(int(Qt::AlignCenter) | int(Qt::TextWordWrap))));
        header->setMinimumHeight(header->sizeHint().height() + fm.lineSpacing());
    }
    // Every column and row in view, also after the user widens a column: the
    // panel scrolls instead of the table.
    auto fitWidth = [t, header] { t->setMinimumWidth(header->length() + 2 * t->frameWidth()); };
    fitWidth();
    QObject::connect(header, &QHeaderView::sectionResized, t, fitWidth);
    t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}
