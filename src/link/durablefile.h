#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include <QString>

class QFileDevice;

// Forcing written data to the disk before success is reported, so a power cut
// right after a save or the end of a recording cannot leave an empty file.
namespace Durable {

// Flushes Qt's buffer and the file system's cache of an open file to the disk.
bool syncFile(QFileDevice& file);

// Makes a file's creation or rename in `folder` itself survive a power cut.
bool syncFolder(const QString& folder);

// syncFolder for the folder holding `filePath`.
bool syncFolderOf(const QString& filePath);

} // namespace Durable

#endif
