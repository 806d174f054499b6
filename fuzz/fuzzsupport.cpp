#include "fuzzsupport.h"

#include "anchor.h"
#include "mainwin.h"
#include "tag.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {
QTemporaryDir* fuzzDir = nullptr;
}

namespace {
// Qt's warnings (the offscreen plugin's size hints, decoder complaints about
// broken files) come for nearly every input and would bury libFuzzer's
// output; only fatal messages still end the run.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}
} // namespace

void initFuzzApplication(int* argc, char*** argv)
{
    qInstallMessageHandler(quietMessages);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt keeps references to argc and argv for the application's lifetime.
    static int appArgc = 1;
    static char appName[] = "orvane-fuzz";
    static char* appArgv[] = {appName, nullptr};
    (void)argc;
    (void)argv;
    new QApplication(appArgc, appArgv);

    auto* closer = new QTimer(qApp);
    closer->setInterval(0);
    QObject::connect(closer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    closer->start();

    fuzzDir = new QTemporaryDir;
    if (!fuzzDir->isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        std::abort();
    }
}

MainWin* createFuzzWindow()
{
    auto* w = new MainWin;
    w->resize(700, 500);
    w->show();
    // A small chart keeps each pass cheap; the geometry code scales the same.
    w->findChild<QWidget*>(QStringLiteral("chart"))->setFixedSize(240, 180);
    QCoreApplication::processEvents();
    w->redrawTimer->stop();
    const QTime fixed(12, 0, 0);
    w->setClocks([fixed] { return fixed; }, [] { return qint64(1700000000000); });
    return w;
}

void chartPass(MainWin* w)
{
    w->redrawChart();
    w->redrawTimer->stop();
}

void abortOnLongHistory(MainWin* w)
{
    for (const QList<RangingSample*>& list : qAsConst(w->rangingHistory)) {
        if (list.size() > 200) {
            std::fprintf(stderr, "history of %d samples\n", int(list.size()));
            std::abort();
        }
    }
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QList<Anchor> fuzzAnchors()
{
    return {Anchor("1A2B", "Master", QColor(255, 0, 0), 0, 0, 0, true, 0),
            Anchor("3C4D", "A1", QColor(0, 0, 255), 1000, 0, 0, false, 5),
            Anchor("5E6F", "A2", QColor(0, 170, 170), 1000, 800, 0, false, 0),
            Anchor("7A80", "A3", QColor(170, 0, 170), 0, 800, 0, false, -3)};
}

QList<Tag> fuzzTags()
{
    return {Tag("2B01", "Tag1", QColor(34, 153, 255), true, true, true, true, true, true, true),
            Tag("2b02", "Tag2", QColor(255, 153, 34), true, true, true, true, true, true, true)};
}

QString writeFuzzFile(const QString& name, const uint8_t* data, size_t size)
{
    const QString path = fuzzDir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}
