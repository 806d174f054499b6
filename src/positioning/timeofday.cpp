#include "timeofday.h"

#include <QElapsedTimer>

namespace {
constexpr qint64 MsecsPerDay = 86400000;
constexpr int SecsPerDay = 86400;
}

qint64 msecsBetween(const QTime& from, const QTime& to)
{
    if (!from.isValid() || !to.isValid())
        return 0;
    const qint64 d = qint64(to.msecsSinceStartOfDay()) - from.msecsSinceStartOfDay();
    return d < 0 ? d + MsecsPerDay : d;
}

qint64 signedMsecsBetween(const QTime& from, const QTime& to)
{
    const qint64 d = msecsBetween(from, to);
    return d > MsecsPerDay / 2 ? d - MsecsPerDay : d;
}

int secsBetween(const QTime& from, const QTime& to)
{
    if (!from.isValid() || !to.isValid())
        return 0;
    const int d = to.msecsSinceStartOfDay() / 1000 - from.msecsSinceStartOfDay() / 1000;
    return d < 0 ? d + SecsPerDay : d;
}

QTime currentTimeOfDay()
{
    static QElapsedTimer steady;
    static QTime base;
    static qint64 baseSteadyMs = 0;
    if (!steady.isValid() || steady.elapsed() - baseSteadyMs >= 1000 || !base.isValid()) {
        if (!steady.isValid())
            steady.start();
        base = QTime::currentTime();
        baseSteadyMs = steady.elapsed();
        return base;
    }
    return base.addMSecs(int(steady.elapsed() - baseSteadyMs));
}
