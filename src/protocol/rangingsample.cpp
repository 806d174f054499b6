#include "rangingsample.h"

RangingSample::RangingSample(const QByteArray& line)
    : RangingSample(line, QTime::currentTime())
{
}

RangingSample::RangingSample(const QByteArray& line, const QTime& received)
    : line(line), received(received)
{
}

bool RangingSample::parse()
{
    distances.clear();
    const QList<QByteArray> fields = line.split(',');
    if (fields.size() < 3)
        return false;

    // Identifier bytes are Latin-1 text up to the first NUL byte.
    const QByteArray& idField = fields.at(1);
    const int nul = idField.indexOf('\0');
    tagId = QString::fromLatin1(nul < 0 ? idField : idField.left(nul));

    bool ok = true;
    distances.reserve(fields.size() - 2);
    for (int i = 2; i < fields.size(); ++i) {
        const QByteArray field = fields.at(i).trimmed();
        bool valid = false;
        const int value = field.isEmpty() ? 0 : field.toInt(&valid, 16);
        if (!valid)
            ok = false;
        distances.append((value < 1 || value > MaxDistance) ? 0 : value);
    }
    return ok;
}
