#include "configcommand.h"

#include "modulesetup.h"

QString buildConfigCommand(const ModuleSetup& modules)
{
    if (modules.anchors.isEmpty())
        return QString();

    QString masterId;
    QString anchorIds;
    for (const Anchor& anchor : modules.anchors) {
        if (anchor.master)
            masterId = anchor.id.toUpper();    // the last master wins
        else
            anchorIds += anchor.id.toUpper() + QLatin1Char(',');
    }
    QString tagIds;
    for (const Tag& tag : modules.tags)
        tagIds += tag.id.toUpper() + QLatin1Char(',');

    // One-pass substitution, so a '%' inside an id cannot disturb the template.
    return QStringLiteral("$PK,%1,%2,%3,%4%5\r\n")
        .arg(masterId,
             QString::number(modules.anchors.size() - 1, 16).toUpper(),
             QString::number(modules.tags.size(), 16).toUpper(),
             anchorIds, tagIds);
}
