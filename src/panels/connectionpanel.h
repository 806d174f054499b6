#ifndef CONNECTIONPANEL_H
#define CONNECTIONPANEL_H

#include <QWidget>

namespace Ui { class ConnectionPanel; }

// The port to the master and what runs over it: choosing and opening the
// port, starting the ranging and sending LED commands. Says what the user
// asks for by signals; the window decides.
class ConnectionPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ConnectionPanel(QWidget* parent = nullptr);
    ~ConnectionPanel() override;

    void clearPorts();
    // An entry shown as text that stands for the device path (empty: the text itself).
    void addPort(const QString& text, const QString& path = QString());
    bool hasPort(const QString& pathOrText) const;
    // The device to open: the path behind the chosen entry, or the text as typed.
    QString chosenPortPath() const;
    void setPortText(const QString& text);
    QString baudText() const;

    void setConnected(bool connected);
    void setRanging(bool ranging);
    // While a replay feeds the receive path nothing may be sent.
    void setSendingBlocked();
    void setSendCommandEnabled(bool on);
    bool isConnectedShown() const;

signals:
    void refreshRequested();
    void connectRequested();
    void disconnectRequested();
    void rangingRequested();
    void sendCommandRequested();
    void aboutRequested();

private:
    Ui::ConnectionPanel* ui;
};

#endif
