#include "translations.h"

#include <QDir>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

// Where Qt's German texts are looked for, and what `cmake --install` lays out.
class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void lookupOrder();
    void installedTree();
};

static QString qtDir() { return QLibraryInfo::location(QLibraryInfo::TranslationsPath); }

// Copies Qt's German catalogues into dir; with all false only the qt_de.qm index.
static bool copyGerman(const QString& dir, bool all)
{
    bool ok = QDir().mkpath(dir);
    for (const QString& f : all ? QDir(qtDir()).entryList({"qt*_de.qm"}, QDir::Files) : QStringList{"qt_de.qm"})
        ok = ok && QFile::copy(qtDir() + "/" + f, dir + "/" + f);
    return ok;
}

void TestInstall::lookupOrder()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    QCOMPARE(qtTranslationDirs(), QStringList({"translations", appDir + "/translations",
                                               QDir::cleanPath(appDir + "/../share/orvane/translations"), qtDir()}));
    if (!QFileInfo::exists(qtDir() + "/qt_de.qm"))
        QSKIP("Qt's German translations (qttranslations5-l10n) are not installed");
    // The first folder that loads wins; the index without its catalogues does not load.
    QTemporaryDir tmp;
    QVERIFY(copyGerman(tmp.filePath("partial"), false) && copyGerman(tmp.filePath("full"), true)
            && copyGerman(tmp.filePath("cwd/translations"), true));
    QTranslator t;
    QCOMPARE(loadQtTranslation(t, {tmp.filePath("missing"), tmp.filePath("partial"), tmp.filePath("full"), qtDir()}),
             tmp.filePath("full"));
    QCOMPARE(t.translate("QPlatformTheme", "Cancel"), QString("Abbrechen"));
    QTranslator none;
    QCOMPARE(loadQtTranslation(none, {tmp.filePath("partial")}), QString());
    // "translations" in the working directory comes first.
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.filePath("cwd")));
    QTranslator first;
    const QString found = loadQtTranslation(first);
    QDir::setCurrent(cwd);
    QCOMPARE(found, QString("translations"));
}

void TestInstall::installedTree()
{
    const QString binaryDir = qEnvironmentVariable("ORVANE_BINARY_DIR");
    if (binaryDir.isEmpty())
        QSKIP("ORVANE_BINARY_DIR is not set (run through ctest)");
    QTemporaryDir prefix;
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStandardPaths::findExecutable("cmake"), {"--install", binaryDir, "--prefix", prefix.path()});
    QVERIFY2(install.waitForFinished(120000) && install.exitCode() == 0, install.readAll().constData());
    const QDir root(prefix.path());
    for (const char* name : {"bin/orvane", "bin/orvane-sim"})
        QVERIFY2(QFileInfo(root.filePath(name)).isExecutable(), name);
    QFile entry(root.filePath("share/applications/orvane.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split('\n');
    QCOMPARE(lines.value(0), QString("[Desktop Entry]"));
    for (const char* line : {"Type=Application", "Name=Orvane", "Exec=orvane", "Icon=orvane"})
        QVERIFY2(lines.contains(line), line);
    QFile icon(root.filePath("share/icons/hicolor/scalable/apps/orvane.svg"));
    QVERIFY(icon.open(QIODevice::ReadOnly));
    QXmlStreamReader svg(&icon);
    QVERIFY(svg.readNextStartElement() && svg.name() == QLatin1String("svg"));
    while (!svg.atEnd())
        svg.readNext();
    QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));

    // The installed and the built program find their German texts from a folder
    // without "translations".
    if (!QFileInfo::exists(qtDir() + "/qt_de.qm"))
        QSKIP("Qt's German translations (qttranslations5-l10n) are not installed");
    QTemporaryDir elsewhere;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_PRINT_TRANSLATION", "1");
    for (const auto& run : {qMakePair(root.filePath("bin/orvane"), root.filePath("share/orvane/translations")),
                            qMakePair(binaryDir + "/orvane", binaryDir + "/translations")}) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(elsewhere.path());
        p.start(run.first, QStringList());
        QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
                 "translations: " + QFileInfo(run.second).canonicalFilePath() + "\nCancel: Abbrechen\n");
    }
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
