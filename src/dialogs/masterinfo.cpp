#include "masterinfo.h"

#include <QDateTime>
#include <QList>
#include <QTimer>

MasterInfo::MasterInfo(QWidget* parent)
    : QLabel(parent), now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    setMasterInfo(QString(), QString());
    aliveTimer = new QTimer(this);
    aliveTimer->setInterval(checkIntervalMs);
    connect(aliveTimer, &QTimer::timeout, this, &MasterInfo::checkAlive);
    aliveTimer->start();
}

MasterInfo::~MasterInfo()
{
    aliveTimer->stop();
    delete aliveTimer;
}

void MasterInfo::setMasterInfo(const QString& version, const QString& id)
{
    masterVersion = version;
    masterId = id;
    updateText();
}

void MasterInfo::touch()
{
    lastPacketMs = now();
}

void MasterInfo::masterPacket(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split(',');
    if (line.isEmpty() || fields.size() < 3) {
        setMasterInfo(QString(), QString());
        return;
    }
    const QString id = QString::fromLatin1(fields.at(1)).trimmed();
    const QString version = QString::fromLatin1(fields.at(2)).trimmed();
    setMasterInfo(version, id);
    lastPacketMs = now();
}

void MasterInfo::updateText()
{
    if (masterVersion.isEmpty() || masterId.isEmpty())
        setText((masterVersion + QLatin1Char(' ') + masterId).trimmed());
    else
        setText(tr("Master ID: %1 - Version: %2").arg(masterId, masterVersion));
}

void MasterInfo::checkAlive()
{
    const qint64 diff = now() - lastPacketMs;
    // A clock that went back counts as alive rather than as silence.
    if (diff > silenceLimitMs)
        setText(tr("keine Verbindung"));
    else
        updateText();
}
