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

    // What the session state allows, and what its labels say.
    void showControls(bool connect, bool disconnect, bool ranging, const QString& rangingText, bool sendCommand,
                      const QString& connectionText);
    // "Automatisch neu verbinden" (remembered): a port that comes back is connected without asking.
    bool autoReconnect() const;

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
