#include "modulesetup.h"

#include "leastusedcolor.h"

#include <QStringList>

bool ModuleSetup::sameId(const QString& a, const QString& b)
{
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

int ModuleSetup::findTag(const QString& id) const
{
    for (int i = 0; i < tags.size(); ++i)
        if (sameId(tags.at(i).id, id))
            return i;
    return -1;
}

namespace {

QString fieldText(const QList<QByteArray>& fields, int index)
{
    return QString::fromLatin1(fields.at(index)).trimmed();
}

bool listed(const QStringList& ids, const QString& id)
{
    for (const QString& candidate : ids)
        if (ModuleSetup::sameId(candidate, id))
            return true;
    return false;
}

// Deletes the records whose id is no longer listed and drops the listed ids that
// already have a record; what is left in ids are the modules to append.
template <typename Record>
void reconcile(QList<Record>& records, QStringList& ids)
{
    for (int i = records.size() - 1; i >= 0; --i)
        if (!listed(ids, records.at(i).id))
            records.removeAt(i);
    for (int i = ids.size() - 1; i >= 0; --i)
        for (const Record& r : qAsConst(records))
            if (ModuleSetup::sameId(r.id, ids.at(i))) {
                ids.removeAt(i);
                break;
            }
}

} // namespace

bool ModuleSetup::applyModuleList(const QByteArray& line, const QList<QColor>& tagColors)
{
    const QList<QByteArray> fields = line.split(',');
    QStringList anchorIds;
    QStringList tagIds;
    QString masterId;

    if (fields.size() >= 4) {
        masterId = fieldText(fields, 1);
        bool ok = false;
        const qulonglong masterValue = masterId.toULongLong(&ok, 16);
        if (!ok || masterValue == 0)
            return false;
        anchorIds << masterId;

        bool okA = false, okT = false;
        const qulonglong nA = fieldText(fields, 2).toULongLong(&okA, 16);
        const qulonglong nT = fieldText(fields, 3).toULongLong(&okT, 16);
        if (!okA || !okT)
            return false;
        // Counts larger than the fields carried make the packet incomplete; comparing
        // against the field count first keeps a hostile count from costing anything.
        const qulonglong available = qulonglong(fields.size() - 4);
        if (nA > available || nT > available - nA)
            return false;
        if (nA > qulonglong(MaxListedModules) || nT > qulonglong(MaxListedModules))
            return false;
        int next = 4;
        for (qulonglong i = 0; i < nA; ++i)
            anchorIds << fieldText(fields, next++);
        for (qulonglong i = 0; i < nT; ++i)
            tagIds << fieldText(fields, next++);
    }

    reconcile(anchors, anchorIds);
    for (const QString& id : qAsConst(anchorIds))
        anchors.append(Anchor(id, id, QColor(0, 0, 0), 0, 0, 0, false, 0));
    for (Anchor& a : anchors)
        a.master = fields.size() >= 4 && sameId(a.id, masterId);

    reconcile(tags, tagIds);
    for (const QString& id : qAsConst(tagIds))
        tags.append(Tag(id, id, newModuleColor(tagColors, colors()), false, true, false, false, false, false, false));
    return true;
}

QList<QColor> ModuleSetup::colors() const
{
    QList<QColor> out;
    for (const Anchor& a : anchors)
        out << a.color;
    for (const Tag& t : tags)
        out << t.color;
    return out;
}
