#include "discoverwin.h"
#include "framing.h"
#include "mainwin.h"
#include "masterinfo.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// The whole literal, NUL bytes included.
template <int N>
QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}
} // namespace

// Hostile and broken input through the program's real paths: the serial
// receive path and the background image loader (settings files: tst_settingsfile). Each
// case checks what the program makes of the input, that it stays bounded, and
// that it keeps working afterwards.
class TestHostile : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void receiveBuffer();
    void longLines();
    void distanceFields();
    void identifiers();
    void moduleListCounts();
    void backgroundImages();

private:
    MainWin* w = nullptr;
    QTemporaryDir dir;

    QString writeFile(const QString& name, const QByteArray& bytes);
    void chartPass();
    int samplesOf(const QString& tagId) const { return w->rangingHistory.value(tagId).size(); }
    const RangingSample* lastSample(const QString& tagId) const
    {
        const QList<RangingSample*> list = w->rangingHistory.value(tagId);
        return list.isEmpty() ? nullptr : list.last();
    }
    static QList<Anchor> fourAnchors()
    {
        return {Anchor("1A2B", "Master", QColor(255, 0, 0), 0, 0, 0, true, 0),
                Anchor("3C4D", "A1", QColor(0, 0, 255), 1000, 0, 0, false, 0),
                Anchor("5E6F", "A2", QColor(0, 170, 170), 1000, 800, 0, false, 0),
                Anchor("7A80", "A3", QColor(170, 0, 170), 0, 800, 0, false, 0)};
    }
};

QString TestHostile::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

void TestHostile::chartPass()
{
    w->redrawChart();
    w->redrawTimer->stop();
}

void TestHostile::init()
{
    QVERIFY(dir.isValid());
    w = new MainWin;
    w->resize(900, 700);
    w->show();
    w->findChild<QWidget*>("chart")->setFixedSize(400, 300);
    QCoreApplication::processEvents();
    w->redrawTimer->stop();
    const QTime fixed(12, 0, 0);
    w->timeOfDay = [fixed] { return fixed; };
    w->modules.anchors = fourAnchors();
    w->modules.tags << Tag("2B01", "Tag1", QColor(34, 153, 255), true, true, true, true, true, true, true);
}

void TestHostile::cleanup()
{
    delete w;
    w = nullptr;
}

void TestHostile::receiveBuffer()
{
    const QByteArray line = "$PD,2B01,1F4,2EE,3E8,258\r\n";

    // A megabyte without line feeds, in serial-sized batches and in one piece.
    for (int batch : {4096, 1 << 20}) {
        const QByteArray junk(1 << 20, 'a');
        for (int pos = 0; pos < junk.size(); pos += batch) {
            w->dataReceived(junk.mid(pos, batch));
            QVERIFY(w->rxBuffer.size() <= Framing::MaxPendingBytes + batch);
        }
        QVERIFY(w->rxBuffer.size() <= Framing::MaxPendingBytes);
        const int before = samplesOf("2B01");
        w->dataReceived(line);
        QCOMPARE(samplesOf("2B01"), before + 1);
        QVERIFY(w->rxBuffer.isEmpty());
    }

    // A megabyte of "$": each one starts a line that never ends, so only the
    // last is kept. The line feed that follows ends that junk line (a "$"
    // inside a line starts nothing); the line after it is dispatched.
    {
        const QByteArray dollars(1 << 20, '$');
        for (int pos = 0; pos < dollars.size(); pos += 4096)
            w->dataReceived(dollars.mid(pos, 4096));
        QVERIFY(w->rxBuffer.size() <= Framing::MaxPendingBytes);
        w->dataReceived(dollars);
        QVERIFY(w->rxBuffer.size() <= Framing::MaxPendingBytes);
        const int before = samplesOf("2B01");
        w->dataReceived(line);
        QCOMPARE(samplesOf("2B01"), before);
        w->dataReceived(line);
        QCOMPARE(samplesOf("2B01"), before + 1);
    }

    // A line that starts and then runs on past the bound is dropped as a whole.
    {
        w->dataReceived("$PD,2B01," + QByteArray(8000, '1'));
        QVERIFY(w->rxBuffer.size() <= Framing::MaxPendingBytes);
        const int before = samplesOf("2B01");
        w->dataReceived(",1F4\r\n" + line);
        QCOMPARE(samplesOf("2B01"), before + 1);
        QCOMPARE(lastSample("2B01")->distances, QList<int>({500, 750, 1000, 600}));
    }
    chartPass();
}

void TestHostile::longLines()
{
    // A ranging line of 100000 distance fields, in one batch: longer than any
    // line the master sends, so it is dropped before dispatch; the next line counts.
    {
        QByteArray line = "$PD,2B01";
        for (int i = 0; i < 100000; ++i)
            line += ",1F4";
        line += "\r\n";
        const int before = samplesOf("2B01");
        w->dataReceived(line + "$PD,2B01,1F4,2EE,3E8,258\r\n");
        QCOMPARE(samplesOf("2B01"), before + 1);
        QCOMPARE(lastSample("2B01")->distances.size(), 4);
        QElapsedTimer t;
        t.start();
        chartPass();
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    }

    // A module list announcing 100000 anchors, with every field there.
    {
        QByteArray line = "$PK,1A2B,186A0,0";
        for (int i = 0; i < 100000; ++i)
            line += ',' + QByteArray::number(0x100000 + i, 16);
        line += "\r\n";
        QElapsedTimer t;
        t.start();
        // Over the wire the line is too long to be dispatched at all...
        const int anchorsBefore = w->modules.anchors.size();
        w->dataReceived(line);
        QCOMPARE(w->modules.anchors.size(), anchorsBefore);
        // ...and handed to the records directly it is refused as a whole.
        ModuleSetup copy = w->modules;
        QVERIFY(!copy.applyModuleList(line));
        QCOMPARE(copy.anchors.size(), anchorsBefore);
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    }

}

void TestHostile::distanceFields()
{
    w->dataReceived("$PD,2B01,-0,+1F4,0x1F4,-1F4\r\n");
    const RangingSample* s = lastSample("2B01");
    QVERIFY(s);
    // "-0" is a valid zero, so no distance; a sign and a "0x" prefix are
    // accepted; a negative distance is none.
    QCOMPARE(s->distances, QList<int>({0, 500, 500, 0}));
    QVERIFY(RangingSample(s->line).parse());

    chartPass();
}

void TestHostile::identifiers()
{
    // A NUL byte ends the identifier of a ranging line.
    w->dataReceived(raw("$PD,2B01\0junk,1F4,1F4,1F4,1F4\r\n"));
    QCOMPARE(samplesOf("2B01"), 1);

    // Bytes beyond ASCII are read as Latin-1 and never fail.
    w->dataReceived("$PD,\xff\xc3\xa4,1F4,1F4,1F4,1F4\r\n");
    QCOMPARE(samplesOf(QString::fromLatin1("\xff\xc3\xa4")), 1);
    chartPass();

    // In a module list a NUL byte ends the identifier text too, and bytes
    // beyond ASCII stay part of it.
    w->dataReceived(raw("$PK,1A2B,1,2,3C\0004D,2B01,\xe4\xff\r\n"));
    QCOMPARE(w->modules.anchors.size(), 2);
    QCOMPARE(w->modules.anchors.at(1).id, QString("3C"));
    QCOMPARE(w->modules.tags.size(), 2);
    QCOMPARE(w->modules.tags.at(0).id, QString("2B01"));
    QCOMPARE(w->modules.tags.at(1).id, QString::fromLatin1("\xe4\xff"));
    QCOMPARE(w->findChild<QTableWidget*>("tblTags")->item(1, 0)->text(), QString::fromLatin1("\xe4\xff"));
    chartPass();

    // The master identity, too.
    w->dataReceived(raw("$PX,1A\0002B,V\xf6\r\n"));
    QCOMPARE(w->masterInfo->text(), QString::fromLatin1("Master ID: 1A - Version: V\xf6"));

    // Discovery cuts at the NUL byte as well and skips identifiers that are
    // no hexadecimal number.
    DiscoverWin dlg(w);
    dlg.setModules(nullptr);
    dlg.discoverPacket(raw("$PW,1,1A2B,3C\0004D,\xff\xfe,2B01\r\n"));
    QCOMPARE(dlg.table()->rowCount(), 3);
    QCOMPARE(dlg.table()->item(1, 0)->text(), QString("3C"));
}

void TestHostile::moduleListCounts()
{
    const QList<Anchor> anchors = w->modules.anchors;
    for (const QByteArray& line : {QByteArray("$PK,1A2B,FFFFFFFF,1,3C4D,2B01\r\n"),
                                   QByteArray("$PK,1A2B,1,FFFFFFFF,3C4D,2B01\r\n"),
                                   QByteArray("$PK,1A2B,10000000000000000,0\r\n"),
                                   QByteArray("$PK,1A2B,-1,1,3C4D\r\n")}) {
        QElapsedTimer t;
        t.start();
        w->dataReceived(line);
        QVERIFY2(t.elapsed() < 1000, line.constData());
        // Refused as a whole: nothing changes.
        QCOMPARE(w->modules.anchors.size(), anchors.size());
        QCOMPARE(w->modules.tags.size(), 1);
        QCOMPARE(w->modules.anchors.at(1).name, QString("A1"));
    }
    // The same list with honest counts is taken.
    w->dataReceived("$PK,1A2B,1,1,3C4D,2B01\r\n");
    QCOMPARE(w->modules.anchors.size(), 2);
    QCOMPARE(w->modules.anchors.at(1).name, QString("A1"));
}

void TestHostile::backgroundImages()
{
    ModalAnswerer boxes;
    auto* draw = w->findChild<QCheckBox*>("chkDrawBGImage");
    // A zero-byte file and PNGs cut off anywhere (even just before the end
    // marker, which Qt's reader insists on) give an empty picture:
    // nothing is drawn, and the grid edits take its size of 0 x 0, which the
    // chart ignores (it keeps its last geometry).
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    const QString good = dir.filePath("good.png");
    QVERIFY(picture.save(good, "PNG"));
    QFile f(good);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray png = f.readAll();
    for (const QByteArray& bytes : {QByteArray(), png.left(33), png.left(png.size() / 2), png.left(png.size() - 12)}) {
        const QString path = writeFile("broken.png", bytes);
        w->chooseOpenFile = [path](const QString&, const QString&) { return path; };
        w->findChild<QLineEdit*>("edtGridW")->setText("1000");
        w->findChild<QLineEdit*>("edtGridH")->setText("1000");
        chartPass();
        const ChartGeometry before = w->chartGeo;
        QMetaObject::invokeMethod(w, "on_btnSelectBackground_clicked");
        QVERIFY(w->bgImage);
        QVERIFY(w->bgImage->isNull());
        QVERIFY(draw->isChecked());
        QCOMPARE(w->findChild<QLineEdit*>("edtGridW")->text(), QString("0"));
        QCOMPARE(w->findChild<QLineEdit*>("edtGridH")->text(), QString("0"));
        chartPass();
        QCOMPARE(w->chartGeo.gridW, before.gridW);
        QCOMPARE(w->chartGeo.gridH, before.gridH);
        QVERIFY(!w->findChild<QLabel*>("lblChart")->pixmap(Qt::ReturnByValue).isNull());
    }
    // The whole file still loads afterwards.
    const QString path = writeFile("whole.png", png);
    w->chooseOpenFile = [path](const QString&, const QString&) { return path; };
    QMetaObject::invokeMethod(w, "on_btnSelectBackground_clicked");
    QCOMPARE(w->bgImage->size(), QSize(40, 30));
    chartPass();
    QCOMPARE(w->chartGeo.gridW, 40);
    QVERIFY(boxes.seen.isEmpty());
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
