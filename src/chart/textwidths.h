#ifndef TEXTWIDTHS_H
#define TEXTWIDTHS_H

#include <QFont>
#include <QHash>
#include <QString>
#include <QVector>

// Advance widths of texts in a few fonts, measured once: every chart pass
// places the same module names again, and each measurement shapes the text.
class TextWidths
{
public:
    double width(const QFont& font, const QString& text);

    // Beyond these the oldest font, or all texts of a font, are forgotten;
    // the averaged labels bring a new text in nearly every frame.
    static const int MaxFonts = 4;
    static const int MaxTexts = 256;

private:
    struct PerFont
    {
        QFont font;
        QHash<QString, double> widths;
    };
    QVector<PerFont> fonts;
};

#endif
