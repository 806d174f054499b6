#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// A real pseudo-terminal pair in raw mode. The program opens slavePath();
// the test plays the master module on the master side.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    bool isValid() const { return masterFd >= 0; }
    QString slavePath() const { return path; }
    int master() const { return masterFd; }
    // Writes all bytes to the master side (the program reads them).
    bool send(const QByteArray& bytes);
    // Reads what the program wrote so far, without blocking.
    QByteArray readAvailable();
    // Closes the master side: the program sees its port vanish.
    void closeMaster();
    void closeSlave();

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString path;
};

// Plays the master module on a pty: records each byte the program sends with its
// arrival time, frames lines, and answers complete command lines per policy.
class FakeMaster : public QObject
{
    Q_OBJECT
public:
    enum Policy { Echo, Silent };
    explicit FakeMaster(PtyPair* pty, QObject* parent = nullptr);

    Policy policy = Echo;
    // Called for each complete line the program sent; returns what to answer
    // (overrides the policy when set).
    std::function<QByteArray(const QByteArray&)> responder;

    QByteArray received;             // every byte, in order
    QList<qint64> byteTimesMs;       // arrival time of each byte (ms since construction)
    QList<QByteArray> lines;         // complete lines received
    int countLine(const QByteArray& line) const { return lines.count(line); }
    void clear();

private slots:
    void readable();

private:
    PtyPair* pty;
    QSocketNotifier* notifier;
    QElapsedTimer clock;
    QByteArray partial;
};

// Reads the master side of a pty on its own thread and stamps each byte with its
// arrival time, so pacing is measured even while the GUI thread sleeps.
class PtyRecorder
{
public:
    explicit PtyRecorder(int masterFd);
    ~PtyRecorder();
    QByteArray bytes() const;
    QList<qint64> timesMs() const;

private:
    struct State;
    State* d;
};

// Answers modal message boxes from a timer: each box that appears is recorded and
// answered with the next queued button (or its default/escape button when none is queued).
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    struct Seen {
        QString title;
        QString text;
        QString informativeText;
        QMessageBox::Icon icon;
        QStringList buttonTexts;
    };
    explicit ModalAnswerer(QObject* parent = nullptr);
    void answer(QMessageBox::StandardButton button) { queue.append(button); }
    QList<Seen> seen;
    // Optional hook run for modal widgets that are not message boxes (e.g. dialogs).
    std::function<void(QWidget*)> onOtherModal;

private slots:
    void poll();

private:
    QTimer timer;
    QList<QMessageBox::StandardButton> queue;
    QPointer<QWidget> lastHandled;
};

// Spins the event loop until pred() holds or timeoutMs passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs);


// ---- Shared helpers for the widget and dialog tests ----

#include "modulesetup.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>

// Finds a push button by object name; a missing one stops the run at once.
QPushButton* findButton(QObject* parent, const char* name);

// Title, text and icon name of a message box, to compare in one go.
QStringList boxOf(const ModalAnswerer::Seen& s);
// The texts of the boxes seen from index `from` on.
QStringList boxTexts(const ModalAnswerer& answerer, int from = 0);

QByteArray readFileBytes(const QString& path);
bool writeFileBytes(const QString& path, const QByteArray& bytes);

// Runs fn while files may grow to at most `bytes` (SIGXFSZ ignored), as on a
// full disk; restores the limit and the signal afterwards.
bool withFileSizeLimit(qint64 bytes, const std::function<void()>& fn);

// One line per record: "id|name|#aarrggbb|x,y,z|M|offset" for anchors,
// "id|name|#aarrggbb|PosRaw PosAvg DistRaw DistAvg Coord Speed Rate" as 0/1 for tags.
QStringList recordsOf(const QList<Anchor>& anchors);
QStringList recordsOf(const QList<Tag>& tags);
// The measurement state a freshly built tag record has.
bool hasNoMeasurement(const Tag& t);
// Records from a short description: ids separated by blanks, '*' marks the master.
ModuleSetup setupOf(const QString& anchorIds, const QString& tagIds = QString());

struct DialogRun {
    bool opened = false;
    bool closedItself = false;   // false: the script left it open and it was shut by force
    int result = -1;
};

// Clicks opener and runs script inside the modal dialog's own event loop, from a
// timer of its own so the answerer keeps answering the boxes the dialog opens.
// A dialog the script leaves open (a failed check) is shut so nothing hangs.
template <class Dialog>
DialogRun runModalDialog(ModalAnswerer& boxes, QAbstractButton* opener,
                         const std::function<void(Dialog*)>& script)
{
    DialogRun run;
    boxes.onOtherModal = [&](QWidget* modal) {
        auto* dialog = qobject_cast<Dialog*>(modal);
        // The hook fires again whenever the dialog becomes active after a box.
        if (!dialog || run.opened)
            return;
        run.opened = true;
        QObject::connect(dialog, &QDialog::finished, [&](int result) { run.result = result; });
        QPointer<Dialog> guard(dialog);
        QTimer::singleShot(0, dialog, [&, guard] {
            script(guard.data());
            run.closedItself = !guard || !guard->isVisible();
            if (guard && guard->isVisible())
                guard->done(QDialog::Rejected);
        });
    };
    opener->click();
    boxes.onOtherModal = nullptr;
    return run;
}

// Types the device path into the main window's port box and connects.
template <class Window>
bool connectWindow(Window& w, const QString& path)
{
    w.template findChild<QComboBox*>("cmbComPort")->setEditText(path);
    w.connectPort();
    return w.com.isOpen();
}

#endif
