#ifndef LEASTUSEDCOLOR_H
#define LEASTUSEDCOLOR_H

#include <QColor>
#include <QList>

// The first colour of palette that the fewest of used hold: one nobody has
// while there is one, else the least repeated. Colours compare by their
// ARGB value, so a colour read back from a file matches its palette entry.
// An empty palette gives black.
QColor leastUsedColor(const QList<QColor>& palette, const QList<QColor>& used);

#endif
