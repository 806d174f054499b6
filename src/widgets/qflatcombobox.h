#ifndef QFLATCOMBOBOX_H
#define QFLATCOMBOBOX_H

#include <QColor>
#include <QComboBox>
#include <QList>

// The fixed list of eleven opaque colours every colour chooser offers.
extern const QList<QColor> colorList;

void addColorItem(QComboBox* combo, int index, const QColor& color);
void selectColor(QComboBox* combo, const QColor& color, bool addIfMissing);

// A colour chooser painted flat: the closed box is filled with its colour
// and carries only a small drop-down arrow.
class QFlatComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit QFlatComboBox(QWidget* parent = nullptr);

    void setArrowAlignment(int alignment) { arrowAlignment = alignment; }
    void setFlat(bool on) { flat = on; }

signals:
    void aboutToPullDown();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static QPalette arrowPalette(const QPalette& from, bool lightArrow);

    int arrowAlignment = Qt::AlignRight;
    bool flat = true;
};

#endif
