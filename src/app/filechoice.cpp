#include "filechoice.h"

#include <QFileDialog>
#include <QFileInfo>
#include "utf8settings.h"

namespace {
QString lastFolder()
{
    return Utf8Settings().value(QStringLiteral("Dateien/Ordner")).toString();
}

void rememberFolder(const QString& path)
{
    if (!path.isEmpty())
        Utf8Settings().setValue(QStringLiteral("Dateien/Ordner"), QFileInfo(path).absolutePath());
}
} // namespace

FileChoice FileChoice::native(QWidget* parent)
{
    // The dialogs open where the user last chose a file, not in the working folder.
    FileChoice choice;
    choice.open = [parent](const QString& caption, const QString& filter) {
        const QString path = QFileDialog::getOpenFileName(parent, caption, lastFolder(), filter);
        rememberFolder(path);
        return path;
    };
    choice.save = [parent](const QString& caption, const QString& filter) {
        const QString path = QFileDialog::getSaveFileName(parent, caption, lastFolder(), filter);
        rememberFolder(path);
        return path;
    };
    return choice;
}
