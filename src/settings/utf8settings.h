#ifndef UTF8SETTINGS_H
#define UTF8SETTINGS_H

#include <QSettings>

#include <utility>

// QSettings that reads and writes INI files as UTF-8 under Qt 5 as Qt 6 does.
// Qt 5 without a codec writes non-ASCII text as \x escapes (which Qt 6 reads)
// but takes raw bytes as Latin-1, so a German name or password saved by a
// Qt 6 build would come back garbled; with UTF-8 both write the same bytes.
class Utf8Settings : public QSettings
{
public:
    template <typename... Args>
    explicit Utf8Settings(Args&&... args)
        : QSettings(std::forward<Args>(args)...)
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        setIniCodec("UTF-8");
#endif
    }
};

#endif
