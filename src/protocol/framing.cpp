#include "framing.h"

namespace Framing {

QByteArray takeCompleteLines(QByteArray& buffer, const QByteArray& data)
{
    buffer.append(data);
    const int first = buffer.indexOf('$');
    const int last = buffer.lastIndexOf('\n');
    if (first >= 0 && first < last) {
        QByteArray chunk = buffer.mid(first, last - first + 1);
        buffer.remove(0, last + 1);
        return chunk;
    }
    if (buffer.size() > MaxPendingBytes) {
        // Keep only a line that may still complete; drop the stale rest.
        const int dollar = buffer.lastIndexOf('$');
        if (dollar >= 0 && buffer.size() - dollar <= MaxPendingBytes)
            buffer.remove(0, dollar);
        else
            buffer.clear();
    }
    return QByteArray();
}

} // namespace Framing
