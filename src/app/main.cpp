#include "batchreplay.h"
#include "buildversion.h"
#include "commandline.h"
#include "mainwin.h"
#include "sitelogrun.h"
#include "sitewindow.h"
#include "qtcompat.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

int runBatch(const BatchReplayOptions& options)
{
    QElapsedTimer clock;
    clock.start();
    BatchReplay batch;
    QString error;
    const bool ok = batch.run(options, &error);
    for (const QString& warning : batch.settingsWarnings())
        std::fprintf(stderr, "orvane: %s: %s\n", qUtf8Printable(options.settings), qUtf8Printable(warning));
    if (!ok) {
        std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(error));
        return 2;
    }
    for (const QString& line : batch.report())
        std::printf("%s\n", qUtf8Printable(line));
    std::fprintf(stderr, "orvane: %llu ranging lines, %llu passes, %llu rows in %.1f s\n",
                 static_cast<unsigned long long>(batch.rangingLines()),
                 static_cast<unsigned long long>(batch.passes()), static_cast<unsigned long long>(batch.rows()),
                 double(clock.elapsed()) / 1000.0);
    if (!options.events.isEmpty())
        std::fprintf(stderr, "orvane: %llu zone events\n", static_cast<unsigned long long>(batch.zoneEvents()));
    if (batch.surveySeconds() >= 0.0)
        std::fprintf(stderr, "orvane: anchor survey solved in %.2f s\n", batch.surveySeconds());
    if (!options.mqttHost.isEmpty())
        std::fprintf(stderr, "orvane: %llu positions published to MQTT, %llu not\n",
                     static_cast<unsigned long long>(batch.published()),
                     static_cast<unsigned long long>(batch.unpublished()));
    if (batch.belowHeight() > 0)
        std::fprintf(stderr, "orvane: %llu distances shorter than the height difference, taken as 0 in the plane\n",
                     static_cast<unsigned long long>(batch.belowHeight()));
    return 0;
}

int runSiteLog(const SiteLogOptions& options)
{
    SiteLogRun run;
    QString error;
    QStringList warnings;
    const bool ok = run.run(options, &error, &warnings);
    for (const QString& warning : warnings)
        std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(warning));
    if (!ok) {
        std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(error));
        return 2;
    }
    std::fprintf(stderr, "orvane: %llu messages received, %llu refused, %d kits, %llu rows\n",
                 static_cast<unsigned long long>(run.received()), static_cast<unsigned long long>(run.refused()),
                 run.kits(), static_cast<unsigned long long>(run.rows()));
    return 0;
}

// The site view's window on its own; ORVANE_SCREENSHOT=FILE.png grabs it
// after ORVANE_SCREENSHOT_DELAY_MS (default 4000) and quits.
int runSiteWindow(QCoreApplication& app, const SiteLogOptions& options)
{
    SiteWindow window;
    MqttSettings broker;
    broker.host = options.host;
    broker.port = options.port;   // 0: the site file's
    window.show();
    for (const QString& problem : window.start(broker, options.siteFile))
        std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(problem));
    const QString shot = qEnvironmentVariable("ORVANE_SCREENSHOT");
    if (!shot.isEmpty()) {
        const int delay = qEnvironmentVariableIsSet("ORVANE_SCREENSHOT_DELAY_MS")
                              ? qEnvironmentVariableIntValue("ORVANE_SCREENSHOT_DELAY_MS") : 4000;
        QTimer::singleShot(delay, &window, [&window, shot] {
            if (!window.grab().save(shot))
                std::fprintf(stderr, "orvane: cannot write %s\n", qUtf8Printable(shot));
            QCoreApplication::exit(0);
        });
    }
    return app.exec();
}

// The known-point dialog of "Offsets einmessen" or "Genauigkeit prüfen" with
// the demo's standing tag at its place, collected for 6 s, then grabbed.
void grabKnownPointDialog(QWidget& window, const QString& which, const QString& shot)
{
    const char* opener = which == QLatin1String("offsets") ? "btnCalibrateOffsets" : "btnCheckAccuracy";
    if (auto* open = window.findChild<QAbstractButton*>(QLatin1String(opener)))
        open->click();
    QWidget* dialog = nullptr;
    for (QWidget* w : window.findChildren<QWidget*>(QStringLiteral("KnownPointDialog")))
        if (w->isVisible())
            dialog = w;
    if (!dialog) {
        std::fprintf(stderr, "orvane: no dialog to grab\n");
        QCoreApplication::exit(1);
        return;
    }
    auto* tags = dialog->findChild<QComboBox*>(QStringLiteral("cmbTag"));
    tags->setCurrentIndex(tags->findData(QStringLiteral("2B02")));
    dialog->findChild<QLineEdit*>(QStringLiteral("edtX"))->setText(QStringLiteral("300"));
    dialog->findChild<QLineEdit*>(QStringLiteral("edtY"))->setText(QStringLiteral("400"));
    dialog->findChild<QSpinBox*>(QStringLiteral("spnDuration"))->setValue(6);
    dialog->findChild<QAbstractButton*>(QStringLiteral("btnStart"))->click();
    QTimer::singleShot(6800, dialog, [dialog, shot] {
        if (!dialog->grab().save(shot))
            std::fprintf(stderr, "orvane: cannot write %s\n", qUtf8Printable(shot));
        QCoreApplication::exit(0);
    });
}

} // namespace

int main(int argc, char** argv)
{
    QtCompat::useUtf8Locale();
    int code = 0;
    {
        // The batch mode, help and version run without a display.
        std::unique_ptr<QCoreApplication> app(CommandLine::windowless(argc, argv) ? new QCoreApplication(argc, argv)
                                                                                   : new QApplication(argc, argv));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildVersion::full()));
        CommandLine commandLine;
        if (!commandLine.parse(QCoreApplication::arguments())) {
            std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(commandLine.errorText()));
            return 2;
        }
        if (commandLine.helpRequested()) {
            std::printf("%s", qUtf8Printable(commandLine.helpText()));
            return 0;
        }
        if (commandLine.versionRequested()) {
            std::printf("orvane %s\n", qUtf8Printable(QCoreApplication::applicationVersion()));
            return 0;
        }
        if (commandLine.batch())
            return runBatch(commandLine.batchOptions());
        if (commandLine.siteLog())
            return runSiteLog(commandLine.siteOptions());
        if (commandLine.site())
            return runSiteWindow(*app, commandLine.siteOptions());
        {
            MainWin window(nullptr);
            // Installation check: ORVANE_PRINT_TRANSLATION=1 prints the folder Qt's
            // German texts were loaded from and Qt's "Cancel" as the dialogs show it,
            // then quits without showing the window.
            if (qEnvironmentVariableIntValue("ORVANE_PRINT_TRANSLATION") == 1) {
                std::printf("translations: %s\nCancel: %s\n", qUtf8Printable(window.qtTranslationFolder()),
                            qUtf8Printable(QCoreApplication::translate("QPlatformTheme", "Cancel")));
                return 0;
            }
            window.show();
            const QStringList problems = window.applyStartup(commandLine.settingsFile(), commandLine.port(),
                                                             commandLine.connectNow(), commandLine.startRanging());
            for (const QString& problem : problems)
                std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(problem));
            // Pictures for the documentation: ORVANE_SCREENSHOT=FILE.png grabs the
            // window after ORVANE_SCREENSHOT_DELAY_MS (default 4000) and quits;
            // ORVANE_SCREENSHOT_SIZE=WxH (or "min") sizes it first;
            // ORVANE_SCREENSHOT_DIALOG=discovery grabs the discovery dialog instead,
            // =offsets or =accuracy the known-point dialog after 6 s at tag 2B02,
            // =links the "Verbindungsqualität" window.
            const QString shot = qEnvironmentVariable("ORVANE_SCREENSHOT");
            if (!shot.isEmpty()) {
                const QString size = qEnvironmentVariable("ORVANE_SCREENSHOT_SIZE");
                if (size == QLatin1String("min"))
                    window.resize(window.minimumSizeHint().expandedTo(window.minimumSize()));
                else if (size.contains(QLatin1Char('x')))
                    window.resize(size.section(QLatin1Char('x'), 0, 0).toInt(), size.section(QLatin1Char('x'), 1).toInt());
                // ORVANE_SCREENSHOT_VIEW=presentation grabs the presentation view (F11).
                if (qEnvironmentVariable("ORVANE_SCREENSHOT_VIEW") == QLatin1String("presentation"))
                    for (QAction* action : window.actions())
                        if (action->shortcut() == QKeySequence(Qt::Key_F11))
                            action->trigger();
                const int delay = qEnvironmentVariableIsSet("ORVANE_SCREENSHOT_DELAY_MS")
                                      ? qEnvironmentVariableIntValue("ORVANE_SCREENSHOT_DELAY_MS") : 4000;
                const QString which = qEnvironmentVariable("ORVANE_SCREENSHOT_DIALOG");
                const bool dialog = which == QLatin1String("discovery");
                if (which == QLatin1String("links")) {
                    if (auto* open = window.findChild<QAbstractButton*>(QStringLiteral("btnLinkQuality")))
                        open->click();
                    QTimer::singleShot(delay, &window, [&window, shot] {
                        auto* links = window.findChild<QWidget*>(QStringLiteral("LinkQualityDialog"));
                        if (!links || !links->grab().save(shot))
                            std::fprintf(stderr, "orvane: cannot write %s\n", qUtf8Printable(shot));
                        QCoreApplication::exit(0);
                    });
                    return app->exec();
                }
                if (which == QLatin1String("offsets") || which == QLatin1String("accuracy")) {
                    QTimer::singleShot(delay, &window, [&window, shot, which] { grabKnownPointDialog(window, which, shot); });
                    return app->exec();
                }
                QTimer::singleShot(delay, &window, [&window, shot, dialog] {
                    auto grab = [shot, &window](QWidget* w) {
                        if (!w || !w->grab().save(shot))
                            std::fprintf(stderr, "orvane: cannot write %s\n", qUtf8Printable(shot));
                        // The chart's share of the window, for the documentation.
                        if (const QWidget* chart = window.findChild<QWidget*>(QStringLiteral("chart")))
                            std::printf("%s: window %dx%d, chart %dx%d = %.0f %%\n", qUtf8Printable(QFileInfo(shot).fileName()),
                                        window.width(), window.height(), chart->width(), chart->height(),
                                        100.0 * chart->width() * chart->height() / (window.width() * window.height()));
                        QCoreApplication::exit(0);
                    };
                    if (!dialog) {
                        grab(&window);
                        return;
                    }
                    // The dialog runs modally: grab it from inside its own loop.
                    QTimer::singleShot(3000, &window, [grab] { grab(QApplication::activeModalWidget()); });
                    if (auto* open = window.findChild<QAbstractButton*>(QStringLiteral("btnDiscovery")))
                        open->click();
                });
            }
            code = app->exec();
        }
    }
    return code;
}
