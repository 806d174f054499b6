#include "textwidths.h"

#include <QFontMetricsF>

double TextWidths::width(const QFont& font, const QString& text)
{
    int i = 0;
    while (i < fonts.size() && !(fonts.at(i).font == font))
        ++i;
    if (i == fonts.size()) {
        if (fonts.size() >= MaxFonts)
            fonts.removeFirst();
        fonts.append({font, {}});
        i = fonts.size() - 1;
    }
    QHash<QString, double>& widths = fonts[i].widths;
    const auto known = widths.constFind(text);
    if (known != widths.constEnd())
        return known.value();
    if (widths.size() >= MaxTexts)
        widths.clear();
    const double w = QFontMetricsF(font).horizontalAdvance(text);
    widths.insert(text, w);
    return w;
}
