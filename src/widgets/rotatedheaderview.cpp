#include "rotatedheaderview.h"

#include <QPainter>

namespace {
const int TextMargin = 6;
}

RotatedHeaderView::RotatedHeaderView(int firstRotated, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), firstRotated(firstRotated)
{
    setSectionsClickable(false);
    setDefaultAlignment(Qt::AlignCenter);
    // Upright words read well a little smaller, and keep the header low.
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    setFont(small);
}

int RotatedHeaderView::rotatedWidth() const
{
    return fontMetrics().height() + 2 * TextMargin;
}

void RotatedHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!isRotated(logicalIndex)) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = rect;
    opt.section = logicalIndex;
    opt.text.clear();
    // The style leaves the painter in a state our text would not show in.
    painter->save();
    style()->drawControl(QStyle::CE_Header, &opt, painter, this);
    painter->restore();
    const QString text = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    painter->save();
    painter->setFont(font());
    painter->setPen(palette().color(QPalette::ButtonText));
    painter->translate(rect.left(), rect.bottom());
    painter->rotate(-90);
    // Bottom-up, from the table's edge, centred in the column.
    painter->drawText(QRect(TextMargin, 0, rect.height() - 2 * TextMargin, rect.width()), Qt::AlignLeft | Qt::AlignVCenter, text);
    painter->restore();
}

QSize RotatedHeaderView::sectionSizeFromContents(int logicalIndex) const
{
    if (!isRotated(logicalIndex))
        return QHeaderView::sectionSizeFromContents(logicalIndex);
    const QString text = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    return QSize(rotatedWidth(), fontMetrics().horizontalAdvance(text) + 2 * TextMargin);
}
