#ifndef NUMBEREDIT_H
#define NUMBEREDIT_H

class QLineEdit;

// Lets the edit take whole numbers from min to max only, and tints it while
// its text is no such number (empty, a lone minus sign, or set from outside
// out of range), so a field that is not used is never silent about it.
void guardNumberEdit(QLineEdit* edit, int min, int max);

// The tint of an edit whose text is not valid.
bool isMarkedInvalid(const QLineEdit* edit);

#endif
