#ifndef PARSEINT_H
#define PARSEINT_H

#include <QString>

// Trimmed base-10 conversion; an empty text gives 0 and false.
bool parseInt(const QString& text, int& value);

#endif
