#ifndef MASTERSTANDIN_H
#define MASTERSTANDIN_H

#include "masterconfig.h"
#include "ranginglines.h"
#include "scenario.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QTimer>

#include <random>

class QFile;
class QSocketNotifier;
class RecordingWriter;

// Plays the master module on the master side of a pseudo terminal: answers the
// program's commands with their echo, announces itself, reports discovered
// modules and sends ranging lines computed from the scenario. Output is paced
// to what a 512000-baud line carries.
class MasterStandIn : public QObject
{
    Q_OBJECT
public:
    static constexpr int LinkBytesPerSecond = 51200;   // 512000 baud, 10 bits a byte
    // Paced a little below the line rate, so that the burst allowed after a
    // late timer never lifts a one-second window above what the line carries.
    static constexpr int PacedBytesPerSecond = LinkBytesPerSecond * 98 / 100;
    static constexpr int BurstBytes = 512;             // largest burst after a pause (10 ms)
    static constexpr int MaxQueuedLines = 500;
    static constexpr int MaxInputLine = 256;
    static constexpr int IdentityIntervalMs = 1000;
    static constexpr int DiscoveryIntervalMs = 500;
    static constexpr int ReportIntervalMs = 5000;

    explicit MasterStandIn(const Scenario& scenario, QObject* parent = nullptr);
    ~MasterStandIn() override;

    // Before start(). An empty link path publishes no symlink.
    void setLinkPath(const QString& path) { link = path; }
    void setFullRate(bool on) { fullRate = on; }
    // One malformed line after every n lines sent; 0 turns it off.
    void setMalformedEvery(int n) { malformedEvery = n > 0 ? n : 0; }
    // CSV "time_ms,tag_id,x_cm,y_cm", one row for each ranging line sent.
    bool setTruthFile(const QString& path, QString* error = nullptr);
    void flushTruth();
    // A recording (the program's ".orec" format) of every byte written to the
    // terminal, in the chunks written, stamped with ms since start(): what the
    // program should have received, to hold a replay against the truth file.
    bool setRecordFile(const QString& path, QString* error = nullptr);
    // Waits until everything recorded so far is in the file.
    bool flushRecord();

    // Opens the pty pair and publishes the link; false with *error on failure.
    bool start(QString* error = nullptr);
    // Closes the pty and removes the link (also done by the destructor).
    void stop();

    QString slavePath() const { return slaveName; }
    QString linkPath() const { return link; }
    bool isRunning() const { return masterFd >= 0; }
    // Someone holds the terminal open (the program, a test).
    bool isPeerConnected() const { return peer; }
    bool isRanging() const { return ranging; }
    bool isDiscovering() const { return discovering; }
    qint64 elapsedMs() const { return offline ? offlineMs : clock.isValid() ? clock.elapsed() : 0; }

    // Ranges for durationMs on a simulated clock, without a terminal and as fast
    // as the machine goes: the configured tags' lines, the identity and report
    // lines, paced by the same byte budget, go to the truth and record files
    // with their simulated times. Not together with start().
    void runOffline(qint64 durationMs);

    const Scenario& scenario() const { return sc; }
    const MasterConfig& configuration() const { return config; }
    void setConfiguration(const MasterConfig& c);

    // Lines sent by packet letter ('D', 'K', 'W', 'X', 'R'); echoes count as 'E'
    // and deliberately malformed lines as '!'.
    int linesSent(char kind) const { return sent.value(kind); }
    int linesSentTotal() const;
    // Malformed lines sent whose third byte is letter, i.e. that a receiver
    // dispatching on it takes for that packet kind (e.g. 'D').
    int malformedSent(char letter) const { return malformedByLetter.value(letter); }
    qint64 bytesSent() const { return bytes; }
    int commandsAccepted() const { return accepted; }
    int commandsIgnored() const { return ignored; }
    // Lines thrown away because nobody listened or the queue overflowed.
    int linesDropped() const { return dropped; }

signals:
    void commandAccepted(const QByteArray& line);
    void peerChanged(bool connected);

private slots:
    void readable();
    void checkPeer();
    void pump();
    void sendIdentity();
    void sendDiscovery();
    void rangingTick();
    void sendReport();

private:
    using OutLine = ::OutLine;

    void feed(const QByteArray& bytes);
    void handleLine(const QByteArray& line);
    bool ledCommandOk(const QByteArray& body) const;
    void enqueue(const OutLine& line);
    void peerLost();
    void startRanging();
    void restartSchedule();
    QStringList rangingTags() const;
    OutLine makeRangingLine(const QString& tag, qint64 ms);
    OutLine makeMalformed();
    bool takeNextLine();
    QByteArray fieldFor(int distance) const;
    bool publishLink(QString* error);
    void removeLink();

    Scenario sc;
    MasterConfig config;
    QString link;
    QString slaveName;
    int masterFd = -1;
    QSocketNotifier* readNotifier = nullptr;
    bool peer = false;
    bool linkPublished = false;

    bool ranging = false;
    bool discovering = false;
    bool fullRate = false;
    int malformedEvery = 0;
    int sinceMalformed = 0;

    QTimer peerTimer;
    QTimer pumpTimer;
    QTimer identityTimer;
    QTimer discoveryTimer;
    QTimer rangingTimer;
    QTimer reportTimer;
    QElapsedTimer clock;
    bool offline = false;
    qint64 offlineMs = 0;
    qint64 lastBudgetNs = 0;
    double budget = 0;

    QByteArray rx;
    QList<OutLine> queue;
    QByteArray wire;   // rest of the line being written

    qint64 scheduleStartMs = 0;
    qint64 scheduled = 0;
    int nextTag = 0;
    RangingLines lines;

    QFile* truthFile = nullptr;
    RecordingWriter* recorder = nullptr;

    QHash<char, int> sent;
    QHash<char, int> malformedByLetter;
    qint64 bytes = 0;
    int accepted = 0;
    int ignored = 0;
    int dropped = 0;
};

#endif
