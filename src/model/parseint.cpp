#include "parseint.h"

bool parseInt(const QString& text, int& value)
{
    if (text.isEmpty()) {
        value = 0;
        return false;
    }
    bool ok = false;
    value = text.trimmed().toInt(&ok, 10);
    return ok;
}
