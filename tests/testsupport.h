#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "modulesetup.h"
#include "qtcompat.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

// The master module on a real pseudo-terminal in raw mode: the program opens
// path(); each complete line it sends is collected and answered by the
// responder, else with its echo (Echo) or not at all (Silent).
class FakeMaster : public QObject
{
public:
    enum Policy { Echo, Silent };
    FakeMaster();
    ~FakeMaster() override { close(); }
    QString path() const { return slavePath; }
    bool send(const QByteArray& bytes);
    void close();   // both ends: the program sees its port vanish
    Policy policy = Echo;
    std::function<QByteArray(const QByteArray&)> responder;
    QList<QByteArray> lines;
    int countLine(const QByteArray& line) const { return lines.count(line); }

private:
    void readable();
    int masterFd = -1, slaveFd = -1;
    QString slavePath;
    QSocketNotifier* notifier = nullptr;
    QByteArray partial;
};

// Answers modal message boxes from a timer with the next queued button (else the
// escape or default button) and records them as "title|text|icon[|informative text]".
class ModalAnswerer : public QObject
{
public:
    ModalAnswerer();
    void answer(QMessageBox::StandardButton b) { queue.append(b); }
    QStringList seen;
    QStringList texts(int from = 0) const;   // the text parts only
    std::function<void(QWidget*)> onOtherModal;   // for modal widgets that are no message box

private:
    void poll();
    QTimer timer;
    QList<QMessageBox::StandardButton> queue;
    QPointer<QWidget> lastHandled;
};

// Every test program keeps the user configuration (window size, last folder,
// MQTT passwords) in a new, empty folder of its own, removed at its end:
// programs running side by side, or a run after an earlier one, never see
// each other's.
struct FreshUserConfig
{
    FreshUserConfig();
};
inline const FreshUserConfig freshUserConfig;

bool waitUntil(const std::function<bool()>& pred, int timeoutMs);
// A program in the system's folders (sbin too); empty when missing.
QString tool(const QString& name);

// mosquitto on 127.0.0.1 and a free port, with a generated configuration.
struct Broker {
    QTemporaryDir dir;
    QString options = "allow_anonymous true";
    QProcess process;
    static int freePort();   // one the system has just given out
    int port = freePort();
    ~Broker() { kill(); }
    QString path(const QString& name) const { return dir.filePath(name); }
    // A port given out and closed again may be taken by another program
    // (other tests run brokers too) before the broker binds it: then a new one.
    // The broker queues for a slow subscriber without limit: its default of
    // 1000 drops messages when a busy machine holds the subscriber up.
    bool start();
    void kill() { process.kill(), process.waitForFinished(); }
};
QPushButton* findButton(QObject* parent, const char* name);
QByteArray readFileBytes(const QString& path);
bool writeFileBytes(const QString& path, const QByteArray& bytes);
// Runs fn while files may grow to at most `bytes`, as on a full disk.
bool withFileSizeLimit(qint64 bytes, const std::function<void()>& fn);
// A 'D' line with the given distances (cm).
QByteArray dLine(const QByteArray& id, const QList<int>& cm);
// Records from ids separated by blanks; '*' marks the master.
ModuleSetup setupOf(const QString& anchorIds, const QString& tagIds = QString());
// One line per record: id|name|#aarrggbb|x,y|M or -|offset for anchors, id|name|#aarrggbb|the seven display flags for tags.
QStringList recordsOf(const ModuleSetup& m);

// Clicks opener and runs script inside the modal dialog it opens; a dialog the
// script leaves open (a failed check) is shut so nothing hangs. True when the
// dialog opened and the script closed it.
template <class Dialog>
bool runModalDialog(ModalAnswerer& boxes, QAbstractButton* opener, const std::function<void(Dialog*)>& script)
{
    bool opened = false, closed = false;
    boxes.onOtherModal = [&](QWidget* modal) {
        auto* dialog = qobject_cast<Dialog*>(modal);
        if (!dialog || opened)
            return;
        opened = true;
        QPointer<Dialog> guard(dialog);
        QTimer::singleShot(0, dialog, [&, guard] {
            script(guard.data());
            closed = !guard || !guard->isVisible();
            if (guard && guard->isVisible())
                guard->done(QDialog::Rejected);
        });
    };
    opener->click();
    boxes.onOtherModal = nullptr;
    return opened && closed;
}

template <class Window>
bool connectWindow(Window& w, const QString& path)
{
    w.template findChild<QComboBox*>("cmbComPort")->setEditText(path);
    w.connectPort();
    return w.com.isOpen();
}

#endif
