#ifndef TIMEOFDAY_H
#define TIMEOFDAY_H

#include <QTime>

// Spans between two times of day, assuming `to` is never earlier than `from`:
// a `to` that lies before `from` on the clock is taken to be on the next day,
// so a span across midnight stays positive. Invalid times give 0.

// Milliseconds from `from` to `to`, in [0, 86400000).
qint64 msecsBetween(const QTime& from, const QTime& to);

// Whole seconds of the day from `from` to `to` (milliseconds are dropped from
// both before subtracting, as QTime::secsTo does), in [0, 86400).
int secsBetween(const QTime& from, const QTime& to);

// Signed milliseconds from `from` to `to`, taking the shorter way round the
// clock: in (-43200000, 43200000]. So a time a little before `from` (a clock
// re-based by a few ms) gives a small negative span, and midnight is crossed
// either way. Invalid times give 0.
qint64 signedMsecsBetween(const QTime& from, const QTime& to);

// The local time of day, like QTime::currentTime() but cheap: the local clock is
// read once a second and the steady clock fills in between (every ranging line
// is stamped, and reading the local time consults the time zone each call).
QTime currentTimeOfDay();

#endif
