#ifndef MASTERINFO_H
#define MASTERINFO_H

#include <QByteArray>
#include <QLabel>
#include <QString>

#include <functional>

class QTimer;

// Status-bar label with the master's id and firmware version; shows
// "keine Verbindung" when a periodic check finds the master silent.
class MasterInfo : public QLabel
{
    Q_OBJECT

public:
    explicit MasterInfo(QWidget* parent = nullptr);
    ~MasterInfo() override;

    void setMasterInfo(const QString& version, const QString& id);
    // The master was heard from just now.
    void touch();
    // Handles an 'X' identity line.
    void masterPacket(const QByteArray& line);
    void updateText();

    // Milliseconds since the epoch; replaceable so the silence rule can be
    // exercised without waiting.
    std::function<qint64()> now;

    static constexpr int checkIntervalMs = 6000;
    static constexpr qint64 silenceLimitMs = 5000;

private slots:
    void checkAlive();

private:
    QString masterVersion;
    QString masterId;
    qint64 lastPacketMs = 0;
    QTimer* aliveTimer = nullptr;
};

#endif
