#ifndef ROTATEDHEADERVIEW_H
#define ROTATEDHEADERVIEW_H

#include <QHeaderView>

// A horizontal table header whose sections from a given column on show their
// text turned upright, so that narrow check-box columns keep long headers
// whole without widening the table.
class RotatedHeaderView : public QHeaderView
{
    Q_OBJECT
public:
    RotatedHeaderView(int firstRotated, QWidget* parent = nullptr);

    bool isRotated(int logicalIndex) const { return logicalIndex >= firstRotated; }
    // The width a rotated section needs: one line of text.
    int rotatedWidth() const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    QSize sectionSizeFromContents(int logicalIndex) const override;

private:
    int firstRotated;
};

#endif
