#ifndef MASTERINFO_H
#define MASTERINFO_H
// Temporary stand-in until the status label lands.
#include <QLabel>
class MasterInfo : public QLabel
{
    Q_OBJECT
public:
    explicit MasterInfo(QWidget* parent = nullptr) : QLabel(parent) {}
    void setMasterInfo(const QString& version, const QString& id) { setText((version + " " + id).trimmed()); }
    void touch() {}
    void masterPacket(const QByteArray&) {}
};
#endif
