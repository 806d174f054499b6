#include "masterconfig.h"

#include <QList>

namespace {

bool isHexDigits(const QByteArray& text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return false;
    for (char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex)
            return false;
    }
    return true;
}

QByteArray stripLineEnd(const QByteArray& line, bool* hadEnd)
{
    QByteArray body = line;
    *hadEnd = body.endsWith('\n');
    if (*hadEnd) {
        body.chop(1);
        if (body.endsWith('\r'))
            body.chop(1);
    }
    return body;
}

} // namespace

bool isModuleId(const QByteArray& text)
{
    if (!isHexDigits(text, 8))
        return false;
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    return ok && value != 0;
}

QByteArray MasterConfig::toLine() const
{
    QByteArray line = "$PK," + master.toLatin1() + ','
        + QByteArray::number(anchors.size(), 16).toUpper() + ','
        + QByteArray::number(tags.size(), 16).toUpper() + ',';
    for (const QString& id : anchors)
        line += id.toLatin1() + ',';
    for (const QString& id : tags)
        line += id.toLatin1() + ',';
    return line + "\r\n";
}

bool MasterConfig::parse(const QByteArray& line, MasterConfig* out)
{
    bool hadEnd = false;
    const QByteArray body = stripLineEnd(line, &hadEnd);
    if (!hadEnd)
        return false;
    const QList<QByteArray> fields = body.split(',');
    if (fields.size() < 5 || fields.at(0) != "$PK")
        return false;
    if (!isModuleId(fields.at(1)))
        return false;
    // Counts: one hexadecimal digit is all the kit's limits need; allow two.
    if (!isHexDigits(fields.at(2), 2) || !isHexDigits(fields.at(3), 2))
        return false;
    const int nA = fields.at(2).toInt(nullptr, 16);
    const int nT = fields.at(3).toInt(nullptr, 16);
    if (nA > MaxAnchors || nT > MaxTags)
        return false;
    if (fields.size() != 5 + nA + nT || !fields.last().isEmpty())
        return false;
    MasterConfig config;
    config.master = QString::fromLatin1(fields.at(1));
    for (int i = 0; i < nA + nT; ++i) {
        const QByteArray& id = fields.at(4 + i);
        if (!isModuleId(id))
            return false;
        (i < nA ? config.anchors : config.tags) << QString::fromLatin1(id);
    }
    if (out)
        *out = config;
    return true;
}

bool MasterConfig::contains(const QString& id) const
{
    return master.compare(id, Qt::CaseInsensitive) == 0
        || anchors.contains(id, Qt::CaseInsensitive)
        || tags.contains(id, Qt::CaseInsensitive);
}
