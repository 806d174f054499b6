#include "translations.h"
#include "qtcompat.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>

QStringList qtTranslationDirs()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    return {
        QStringLiteral("translations"),
        appDir + QStringLiteral("/translations"),
        QDir::cleanPath(appDir + QStringLiteral("/../share/orvane/translations")),
        QtCompat::translationsPath(),
    };
}

QString loadQtTranslation(QTranslator& translator, const QStringList& dirs)
{
    for (const QString& dir : dirs) {
        // qt_de.qm is only an index of other catalogues; load() fails unless all
        // of them sit in the same folder, so a partial copy falls through.
        if (!dir.isEmpty() && translator.load(QStringLiteral("qt_de"), dir))
            return dir;
    }
    return QString();
}

QString loadQtTranslation(QTranslator& translator)
{
    return loadQtTranslation(translator, qtTranslationDirs());
}
