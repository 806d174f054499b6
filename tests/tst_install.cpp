#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

// Where Qt's German texts are looked for, and what `cmake --install` lays out:
// binaries, desktop entry, icon and translations, with the installed program
// finding its German texts from any working directory.
class TestInstall : public QObject
{
    Q_OBJECT
private slots:
    void lookupOrder();
    void installedTree();

private:
    static QString qtDir() { return QLibraryInfo::location(QLibraryInfo::TranslationsPath); }
    static bool haveQtGerman() { return QFileInfo::exists(qtDir() + "/qt_de.qm"); }
    // Copies Qt's German catalogues into dir; with all=false only the qt_de.qm index.
    static bool copyGerman(const QString& dir, bool all)
    {
        if (!QDir().mkpath(dir))
            return false;
        const QStringList files = all ? QDir(qtDir()).entryList({"qt*_de.qm"}, QDir::Files) : QStringList{"qt_de.qm"};
        for (const QString& f : files)
            if (!QFile::copy(qtDir() + "/" + f, dir + "/" + f))
                return false;
        return true;
    }
    // Runs the program with the translation report hook; returns its output.
    static QString report(const QString& program, const QString& workDir)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVANE_PRINT_TRANSLATION", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(workDir);
        p.start(program, QStringList());
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return QString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    static QString canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }
};

void TestInstall::lookupOrder()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList dirs = qtTranslationDirs();
    QCOMPARE(dirs, QStringList({"translations", appDir + "/translations",
                                QDir::cleanPath(appDir + "/../share/orvane/translations"), qtDir()}));

    if (!haveQtGerman())
        QSKIP("Qt's German translations (qttranslations5-l10n) are not installed");

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString none = tmp.filePath("none");
    const QString partial = tmp.filePath("partial");
    const QString full = tmp.filePath("full");
    const QString later = tmp.filePath("later");
    QVERIFY(QDir().mkpath(none));
    QVERIFY(copyGerman(partial, false));
    QVERIFY(copyGerman(full, true));
    QVERIFY(copyGerman(later, true));

    // The first folder that loads wins; qt_de.qm without the catalogues it
    // lists does not load, so such a folder is passed over.
    {
        QTranslator t;
        QCOMPARE(loadQtTranslation(t, {tmp.filePath("missing"), none, partial, full, later}), full);
        QCOMPARE(t.translate("QPlatformTheme", "Cancel"), QString("Abbrechen"));
    }
    {
        QTranslator t;
        QCOMPARE(loadQtTranslation(t, {none, partial}), QString());
        QVERIFY(t.isEmpty());
    }

    // The working directory's "translations" comes before everything else;
    // without one the lookup falls through to a later folder.
    const QString oldCwd = QDir::currentPath();
    QVERIFY(copyGerman(tmp.filePath("cwd/translations"), true));
    QVERIFY(QDir::setCurrent(tmp.filePath("cwd")));
    QString first, fallback;
    {
        QTranslator t;
        first = loadQtTranslation(t);
    }
    QVERIFY(QDir::setCurrent(none));
    {
        QTranslator t;
        fallback = loadQtTranslation(t);
    }
    QVERIFY(QDir::setCurrent(oldCwd));
    QCOMPARE(first, QString("translations"));
    QVERIFY(!fallback.isEmpty());
    QVERIFY(fallback != "translations");
}

void TestInstall::installedTree()
{
    const QString binaryDir = qEnvironmentVariable("ORVANE_BINARY_DIR");
    if (binaryDir.isEmpty())
        QSKIP("ORVANE_BINARY_DIR is not set (run through ctest)");
    const QString cmake = QStandardPaths::findExecutable("cmake");
    QVERIFY2(!cmake.isEmpty(), "cmake not found");

    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(cmake, {"--install", binaryDir, "--prefix", prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());

    const QDir root(prefix.path());
    for (const char* name : {"bin/orvane", "bin/orvane-sim"}) {
        const QFileInfo bin(root.filePath(name));
        QVERIFY2(bin.isFile() && bin.isExecutable(), name);
    }

    // Desktop entry.
    const QString desktop = root.filePath("share/applications/orvane.desktop");
    QFile entry(desktop);
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split('\n');
    QCOMPARE(lines.value(0), QString("[Desktop Entry]"));
    for (const char* line : {"Type=Application", "Name=Orvane", "Exec=orvane", "Icon=orvane"})
        QVERIFY2(lines.contains(line), line);
    QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.startsWith("Categories="); }));

    // Icon: a well-formed SVG document.
    QFile icon(root.filePath("share/icons/hicolor/scalable/apps/orvane.svg"));
    QVERIFY(icon.open(QIODevice::ReadOnly));
    QXmlStreamReader svg(&icon);
    QVERIFY(svg.readNextStartElement());
    QCOMPARE(svg.name().toString(), QString("svg"));
    while (!svg.atEnd())
        svg.readNext();
    QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));

    // Translations: the installed set loads on its own, and the installed
    // program finds it from a working directory without "translations".
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    if (haveQtGerman()) {
        const QString shareDir = root.filePath("share/orvane/translations");
        QVERIFY(QFileInfo::exists(shareDir + "/qt_de.qm"));
        QTranslator t;
        QCOMPARE(loadQtTranslation(t, {shareDir}), shareDir);

        const QString installed = report(root.filePath("bin/orvane"), elsewhere.path());
        QVERIFY2(installed.contains("Cancel: Abbrechen\n"), qPrintable(installed));
        QVERIFY2(installed.contains("translations: " + canonical(shareDir) + "\n"), qPrintable(installed));

        // The build tree's copy beside the binary is complete as well.
        const QString built = report(binaryDir + "/orvane", elsewhere.path());
        QVERIFY2(built.contains("Cancel: Abbrechen\n"), qPrintable(built));
        QVERIFY2(built.contains("translations: " + canonical(binaryDir) + "/translations\n"), qPrintable(built));
    }

    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {desktop});
    QVERIFY(validate.waitForFinished(30000));
    const QByteArray complaints = validate.readAll();
    QVERIFY2(validate.exitCode() == 0 && complaints.trimmed().isEmpty(), complaints.constData());
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
