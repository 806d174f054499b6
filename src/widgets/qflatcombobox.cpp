#include "qflatcombobox.h"
#include "qtcompat.h"

#include <QHash>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionComboBox>

const QList<QColor> colorList = {
    QColor(0, 0, 0),       QColor(255, 0, 0),     QColor(0, 255, 0),     QColor(0, 0, 255),
    QColor(170, 170, 0),   QColor(170, 0, 170),   QColor(0, 170, 170),   QColor(255, 153, 34),
    QColor(34, 153, 255),  QColor(34, 255, 153),  QColor(255, 34, 153),
};

void addColorItem(QComboBox* combo, int index, const QColor& color)
{
    if (!combo)
        return;
    combo->addItem(QIcon(), QString(), color);
    if (QAbstractItemModel* model = combo->model())
        model->setData(model->index(index, 0), color, Qt::BackgroundRole);
}

void selectColor(QComboBox* combo, const QColor& color, bool addIfMissing)
{
    if (!combo)
        return;
    int match = -1;
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i, Qt::UserRole).value<QColor>() == color) {
            match = i;
            break;
        }
    }
    if (match < 0) {
        if (!addIfMissing)
            return;
        match = combo->count();
        addColorItem(combo, match, color);
    }
    combo->setCurrentIndex(match);
    QPalette palette = combo->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(color));
    palette.setBrush(QPalette::All, QPalette::Base, QBrush(color));
    combo->setPalette(palette);
}

QFlatComboBox::QFlatComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(Qt::white));
    setPalette(palette);
}

void QFlatComboBox::mousePressEvent(QMouseEvent* event)
{
    if (isEditable() && lineEdit()) {
        const QRect editArea(QPoint(0, 0), lineEdit()->size());
        if (editArea.contains(QtCompat::position(event).toPoint())) {
            QComboBox::mousePressEvent(event);
            return;
        }
    }
    emit aboutToPullDown();
    QComboBox::mousePressEvent(event);
}

// Styles cache what they draw under the palette's identity, and a palette
// changed in place is a new one: every paint, and every new box of the same
// colour, would leave another entry in the pixmap cache. So boxes that look
// alike draw their arrow with one shared palette.
QPalette QFlatComboBox::arrowPalette(const QPalette& from, bool lightArrow)
{
    static QHash<QString, QPalette> shared;
    const QString key = QStringLiteral("%1 %2 %3").arg(from.color(QPalette::Window).rgba())
                            .arg(from.color(QPalette::Button).rgba()).arg(lightArrow ? 1 : from.color(QPalette::Text).rgba());
    auto it = shared.find(key);
    if (it == shared.end()) {
        if (shared.size() >= 256)   // colours are few; a bound all the same
            shared.clear();
        QPalette p = from;
        if (lightArrow)
            for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
                p.setColor(role, Qt::white);
        it = shared.insert(key, p);
    }
    return *it;
}

void QFlatComboBox::paintEvent(QPaintEvent* event)
{
    if (!flat) {
        QComboBox::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Text));

    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QString text = option.currentText;
    option.currentText.clear();
    style()->drawItemText(&painter, rect(), Qt::AlignCenter, palette(), true, text);

    const QRect full = option.rect;
    option.rect = QStyle::alignedRect(Qt::LeftToRight, Qt::Alignment(arrowAlignment),
                                      QSize(16, full.height()), full);
    // Styles draw the arrow in the text colour, which vanishes on a dark field
    // (black is what every new module starts with); draw it light there.
    const QPalette textPalette = option.palette;
    option.palette = arrowPalette(option.palette, qGray(palette().color(QPalette::Window).rgb()) < 128);
    style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &option, &painter, this);
    option.palette = textPalette;
    option.rect = full;
    style()->drawControl(QStyle::CE_ComboBoxLabel, &option, &painter, this);
}
