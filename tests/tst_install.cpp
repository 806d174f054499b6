#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// What `cmake --install` lays out, and where the programs, built and installed, find Qt's German texts.
class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void installedTree();
};

void TestInstall::installedTree()
{
    const QString binaryDir = qEnvironmentVariable("ORVANE_BINARY_DIR");
    if (binaryDir.isEmpty())
        QSKIP("ORVANE_BINARY_DIR is not set (run through ctest)");
    QTemporaryDir prefix, work;
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStandardPaths::findExecutable("cmake"), {"--install", binaryDir, "--prefix", prefix.path()});
    QVERIFY2(install.waitForFinished(120000) && install.exitCode() == 0, install.readAll().constData());
    const QDir root(prefix.path());
    for (const char* name : {"bin/orvane", "bin/orvane-sim"})
        QVERIFY2(QFileInfo(root.filePath(name)).isExecutable(), name);
    const QString entry = QString::fromUtf8(readFileBytes(root.filePath("share/applications/orvane.desktop")));
    QVERIFY(entry.startsWith("[Desktop Entry]\n") && entry.contains("\nExec=orvane %f\n") && entry.contains("\nIcon=orvane\n"));
    QVERIFY(readFileBytes(root.filePath("share/icons/hicolor/scalable/apps/orvane.svg")).contains("<svg"));

    // Each program takes "translations" in the working directory first, then
    // the folder beside it or the installed one; a folder holding only the
    // index qt_de.qm, without the catalogues it lists, is passed over.
    const QString qtDir = QtCompat::translationsPath();
    if (!QFileInfo::exists(qtDir + "/qt_de.qm"))
        QSKIP("Qt's German translations (qttranslations5-l10n) are not installed");
    QVERIFY(QDir(work.path()).mkpath("full/translations") && QDir(work.path()).mkpath("partial/translations"));
    for (const QString& f : QDir(qtDir).entryList({"qt*_de.qm"}, QDir::Files))
        QVERIFY(QFile::copy(qtDir + "/" + f, work.filePath("full/translations/" + f)));
    QVERIFY(QFile::copy(qtDir + "/qt_de.qm", work.filePath("partial/translations/qt_de.qm")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_PRINT_TRANSLATION", "1");
    const QString installed = QFileInfo(root.filePath("share/orvane/translations")).canonicalFilePath();
    const QList<QStringList> runs = {{root.filePath("bin/orvane"), "partial", installed},
                                     {binaryDir + "/orvane", work.path(), QFileInfo(binaryDir + "/translations").canonicalFilePath()},
                                     {root.filePath("bin/orvane"), "full", "translations"}};
    for (const QStringList& run : runs) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QDir(work.path()).filePath(run[1]));
        p.start(run[0], QStringList());
        QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), "translations: " + run[2] + "\nCancel: Abbrechen\n");
    }
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
