#ifndef FRAMING_H
#define FRAMING_H

#include <QByteArray>

// Receive-side line framing: lines run from "$" through the next line feed.
namespace Framing {

// Longest run of bytes kept while no complete line has formed; the master's
// lines are far shorter, so more than this is noise or a wrong baud rate.
constexpr int MaxPendingBytes = 4096;
// Longest line handed on: a longer one cannot come from the master and would
// only cost time (a module list of thousands of identifiers), so it is dropped.
constexpr int MaxLineBytes = 4096;

// Appends data to buffer and cuts off the chunk of complete lines (from the first
// "$" through the last line feed), leaving the unfinished tail in buffer. Returns
// an empty array when no complete line is there yet. Bounds the buffer.
QByteArray takeCompleteLines(QByteArray& buffer, const QByteArray& data);

// Calls f(line) for every "$"…"\n" line in chunk, in order; bytes between a line
// feed and the next "$" are skipped, a "$" inside a line starts nothing.
template <typename F>
void forEachLine(const QByteArray& chunk, F&& f)
{
    int s = chunk.indexOf('$');
    while (s >= 0) {
        const int e = chunk.indexOf('\n', s);
        if (e < 0)
            break;
        f(chunk.mid(s, e - s + 1));
        s = chunk.indexOf('$', e);
    }
}

inline bool isPacketLine(const QByteArray& line)
{
    return line.size() > 2 && line.size() <= MaxLineBytes && line.at(0) == '$' && line.at(1) == 'P';
}

} // namespace Framing

#endif
