#include "leastusedcolor.h"

QColor leastUsedColor(const QList<QColor>& palette, const QList<QColor>& used)
{
    QColor best(0, 0, 0);
    int fewest = -1;
    for (const QColor& c : palette) {
        int n = 0;
        for (const QColor& u : used)
            n += u.rgba() == c.rgba();
        if (fewest < 0 || n < fewest) {
            fewest = n;
            best = c;
        }
        if (n == 0)
            break;
    }
    return best;
}

QColor newModuleColor(const QList<QColor>& palette, const QList<QColor>& used)
{
    QList<QColor> colourful;
    for (const QColor& c : palette)
        if (c.rgba() != QColor(Qt::black).rgba())
            colourful << c;
    return leastUsedColor(colourful.isEmpty() ? palette : colourful, used);
}
