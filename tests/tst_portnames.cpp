#include "cominterface.h"
#include "mainwin.h"
#include "portnames.h"
#include "testsupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Stable port names from a by-id folder: what the list shows, and that the
// program opens the path behind an entry but still opens a typed path.
class TestPortNames : public QObject
{
    Q_OBJECT
private slots:
    void byIdListing();
    void portListConnects();

private:
    static QString device(const PtyPair& pty) { return pty.slavePath().mid(QStringLiteral("/dev/").size()); }
};

void TestPortNames::byIdListing()
{
    qunsetenv("ORVANE_BY_ID_DIR");
    QCOMPARE(serialByIdDir(), QString("/dev/serial/by-id"));
    qputenv("ORVANE_BY_ID_DIR", "/somewhere/else");
    QCOMPARE(serialByIdDir(), QString("/somewhere/else"));
    qunsetenv("ORVANE_BY_ID_DIR");

    PtyPair first, second;
    QVERIFY(first.isValid() && second.isValid());
    QVERIFY(first.slavePath().startsWith("/dev/"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ftdi = dir.filePath("usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0");
    const QString acm = dir.filePath("usb-Arduino_Nano_33-if00");
    QVERIFY(QFile::link(first.slavePath(), ftdi));
    QVERIFY(QFile::link(second.slavePath(), acm));
    // An unplugged adapter's link points nowhere; a plain file is no port.
    QVERIFY(QFile::link("/dev/does-not-exist-orvane", dir.filePath("usb-Gone-if00")));
    QFile plain(dir.filePath("notes"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    // A link to something outside /dev names its full target.
    QVERIFY(QFile::link(plain.fileName(), dir.filePath("usb-Zeta-if00")));

    const QList<PortChoice> choices = byIdPortChoices(dir.path());
    QCOMPARE(choices.size(), 3);
    QCOMPARE(choices[0].path, acm);
    QCOMPARE(choices[0].text, acm + " (" + device(second) + ")");
    QCOMPARE(choices[1].path, ftdi);
    QCOMPARE(choices[1].text, ftdi + " (" + device(first) + ")");
    QCOMPARE(choices[2].text, dir.filePath("usb-Zeta-if00") + " (" + QFileInfo(plain).canonicalFilePath() + ")");

    QVERIFY(byIdPortChoices(dir.filePath("missing")).isEmpty());
}

void TestPortNames::portListConnects()
{
    PtyPair viaLink, typed;
    QVERIFY(viaLink.isValid() && typed.isValid());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0");
    QVERIFY(QFile::link(viaLink.slavePath(), link));
    const QString shown = link + " (" + device(viaLink) + ")";

    qputenv("ORVANE_BY_ID_DIR", dir.path().toLocal8Bit());
    qputenv("ORVANE_PORTS", link.toLocal8Bit());
    MainWin w;
    ModalAnswerer boxes;
    auto* ports = w.findChild<QComboBox*>("cmbComPort");

    // The stable name follows the plain port names, once, with its device beside it.
    const int names = ComInterface::availablePortNames().size();
    QCOMPARE(ports->count(), names + 1);
    QCOMPARE(ports->itemText(names), shown);
    QCOMPARE(ports->itemData(names).toString(), link);
    qunsetenv("ORVANE_PORTS");

    // Choosing the entry opens the link, not the shown text.
    ports->setCurrentIndex(names);
    QCOMPARE(ports->currentText(), shown);
    w.connectPort();
    QVERIFY(w.com.isOpen());
    QVERIFY(!ports->isEnabled());
    QVERIFY(boxes.seen.isEmpty());
    w.disconnectPort();
    QVERIFY(!w.com.isOpen());

    // Text typed over a chosen entry is what gets opened.
    QCOMPARE(ports->currentIndex(), names);
    ports->setEditText("/dev/does-not-exist-orvane");
    w.connectPort();
    QVERIFY(!w.com.isOpen());
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].text, QString("Die Verbindung konnte nicht hergestellt werden!"));

    ports->setEditText(typed.slavePath());
    w.connectPort();
    QVERIFY(w.com.isOpen());
    // Prove it is the typed terminal: its far end sees the program's bytes.
    QVERIFY(w.com.write("$PG,\r\n"));
    QByteArray seenByTyped;
    QVERIFY(waitUntil([&] { seenByTyped += typed.readAvailable(); return seenByTyped.contains("$PG,"); }, 3000));
    QVERIFY(viaLink.readAvailable().isEmpty());
    w.disconnectPort();

    // A typed by-id path works too.
    ports->setEditText(link);
    w.connectPort();
    QVERIFY(w.com.isOpen());
    w.disconnectPort();
    QCOMPARE(boxes.seen.size(), 1);

    // The entry disappears with its device.
    QVERIFY(QFile::remove(link));
    w.refreshComPorts();
    QCOMPARE(ports->count(), names);
    qunsetenv("ORVANE_BY_ID_DIR");
}

QTEST_MAIN(TestPortNames)
#include "tst_portnames.moc"
