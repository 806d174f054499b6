#include "portnames.h"

#include <QDir>
#include <QFileInfo>

QString serialByIdDir()
{
    const QString dir = qEnvironmentVariable("ORVANE_BY_ID_DIR");
    return dir.isEmpty() ? QStringLiteral("/dev/serial/by-id") : dir;
}

QList<PortChoice> byIdPortChoices(const QString& dir)
{
    QList<PortChoice> choices;
    const QFileInfoList links =
        QDir(dir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (!link.isSymLink())
            continue;
        // A link left behind by an unplugged adapter points nowhere: skip it.
        const QString target = link.canonicalFilePath();
        if (target.isEmpty())
            continue;
        const QString devPrefix = QStringLiteral("/dev/");
        const QString device = target.startsWith(devPrefix) ? target.mid(devPrefix.size()) : target;
        const QString path = link.absoluteFilePath();
        choices.append({path + QStringLiteral(" (") + device + QLatin1Char(')'), path});
    }
    return choices;
}

QList<PortChoice> byIdPortChoices()
{
    return byIdPortChoices(serialByIdDir());
}
