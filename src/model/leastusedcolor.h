#ifndef LEASTUSEDCOLOR_H
#define LEASTUSEDCOLOR_H

#include <QColor>
#include <QList>

// The first colour of palette that the fewest of used hold: one nobody has
// while there is one, else the least repeated. Colours compare by their
// ARGB value, so a colour read back from a file matches its palette entry.
// An empty palette gives black.
QColor leastUsedColor(const QList<QColor>& palette, const QList<QColor>& used);

// The colour a module found or listed anew gets: the least used one of
// palette other than black, which reads as a grid line or a label on the
// chart (black stays the user's to choose).
QColor newModuleColor(const QList<QColor>& palette, const QList<QColor>& used);

#endif
