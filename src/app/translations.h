#ifndef TRANSLATIONS_H
#define TRANSLATIONS_H

#include <QString>
#include <QStringList>

class QTranslator;

// Folders that may hold Qt's German texts ("qt_de"), best first: "translations"
// relative to the working directory, "translations" beside the binary, the
// installed share folder (../share/orvane/translations from the binary), and
// Qt's own translations folder. Needs a QCoreApplication.
QStringList qtTranslationDirs();

// Loads "qt_de" into translator from the first folder of dirs where it loads
// (with the catalogues it depends on) and returns that folder as given; an
// empty string when none has it. A failed attempt leaves the translator empty.
QString loadQtTranslation(QTranslator& translator, const QStringList& dirs);
QString loadQtTranslation(QTranslator& translator);

#endif
