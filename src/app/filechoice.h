#ifndef FILECHOICE_H
#define FILECHOICE_H

#include <QString>

#include <functional>

class QWidget;

// The file choosers the flows ask; the native dialogs unless replaced (tests).
using FileChooser = std::function<QString(const QString& caption, const QString& filter)>;
struct FileChoice
{
    FileChooser open, save;
    // The native dialogs, opening where the user last chose a file.
    static FileChoice native(QWidget* parent);
};

#endif
