#ifndef QTCOMPAT_H
#define QTCOMPAT_H

// The calls whose name, type or default differ between Qt 5 and Qt 6, so that
// one source builds against both. Templates keep widget headers out of here.
#include <QLibraryInfo>
#include <QPointF>
#include <QString>
#include <QtGlobal>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

namespace QtCompat {

// Where a mouse event happened, in the receiving widget's coordinates.
template <typename MouseEvent>
QPointF position(const MouseEvent* event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position();
#else
    return event->localPos();
#endif
}

// A label's picture by value (an empty one when it has none).
template <typename Label>
auto pixmap(const Label* label)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return label->pixmap();
#else
    return label->pixmap(Qt::ReturnByValue);
#endif
}

// Qt's own translations folder.
inline QString translationsPath()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

// Qt 6 takes 8-bit text (arguments, file names, console output) as UTF-8
// whatever the locale says; Qt 5 follows the locale, which under LANG=C turns
// umlauts into question marks. Called first in main, this makes both agree.
inline void useUtf8Locale()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    if (QTextCodec* utf8 = QTextCodec::codecForName("UTF-8"))
        QTextCodec::setCodecForLocale(utf8);
#endif
}

} // namespace QtCompat

#endif
