#include "rangingsample.h"

#include <climits>
#include <cstring>

RangingSample::RangingSample(const QByteArray& line)
    : RangingSample(line, QTime::currentTime())
{
}

RangingSample::RangingSample(const QByteArray& line, const QTime& received)
    : line(line), received(received)
{
}

namespace {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

inline int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One distance field as a base-16 integer: surrounding white space ignored, an
// optional sign and "0x" prefix accepted, anything else (or a value beyond int)
// invalid. Hand-written because this runs for every field of every line.
int parseHexField(const char* b, const char* e, bool& valid)
{
    valid = false;
    while (b < e && isBlank(*b))
        ++b;
    while (e > b && isBlank(e[-1]))
        --e;
    if (b == e)
        return 0;
    bool negative = false;
    if (*b == '+' || *b == '-') {
        negative = *b == '-';
        ++b;
    }
    if (e - b >= 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X') && e - b > 2 && hexDigit(b[2]) >= 0)
        b += 2;
    if (b == e)
        return 0;
    qint64 value = 0;
    for (; b < e; ++b) {
        const int d = hexDigit(*b);
        if (d < 0)
            return 0;
        value = value * 16 + d;
        if (value > qint64(INT_MAX) + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return 0;
    valid = true;
    return int(value);
}

} // namespace

bool RangingSample::parse()
{
    distances.clear();
    const char* const begin = line.constData();
    const char* const end = begin + line.size();

    // Field boundaries without allocating a list of fields.
    const char* fieldStart = begin;
    const char* comma = static_cast<const char*>(memchr(fieldStart, ',', size_t(end - fieldStart)));
    if (!comma)
        return false;                                   // one field
    const char* idStart = comma + 1;
    const char* idEnd = static_cast<const char*>(memchr(idStart, ',', size_t(end - idStart)));
    if (!idEnd)
        return false;                                   // two fields

    // Identifier bytes are Latin-1 text up to the first NUL byte.
    const char* nul = static_cast<const char*>(memchr(idStart, '\0', size_t(idEnd - idStart)));
    tagId = QString::fromLatin1(idStart, int((nul ? nul : idEnd) - idStart));

    bool ok = true;
    const char* f = idEnd + 1;
    for (;;) {
        const char* next = static_cast<const char*>(memchr(f, ',', size_t(end - f)));
        const char* fieldEnd = next ? next : end;
        bool valid = false;
        const int value = parseHexField(f, fieldEnd, valid);
        ok = ok && valid;
        distances.append((value < 1 || value > MaxDistance) ? 0 : value);
        if (!next)
            break;
        f = next + 1;
    }
    return ok;
}
