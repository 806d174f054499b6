#include "batchreplay.h"
#include "commandline.h"
#include "mainwin.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>

namespace {

int runBatch(const BatchReplayOptions& options)
{
    QElapsedTimer clock;
    clock.start();
    BatchReplay batch;
    QString error;
    if (!batch.run(options, &error)) {
        std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(error));
        return 2;
    }
    std::fprintf(stderr, "orvane: %llu ranging lines, %llu passes, %llu rows in %.1f s\n",
                 static_cast<unsigned long long>(batch.rangingLines()),
                 static_cast<unsigned long long>(batch.passes()), static_cast<unsigned long long>(batch.rows()),
                 double(clock.elapsed()) / 1000.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int code = 0;
    {
        // The batch mode, help and version run without a display.
        std::unique_ptr<QCoreApplication> app(CommandLine::windowless(argc, argv) ? new QCoreApplication(argc, argv)
                                                                                   : new QApplication(argc, argv));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.1"));
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
        {
            MainWin window(nullptr);
            // Installation check: ORVANE_PRINT_TRANSLATION=1 prints the folder Qt's
            // German texts were loaded from and Qt's "Cancel" as the dialogs show it,
            // then quits without showing the window.
            if (qEnvironmentVariableIntValue("ORVANE_PRINT_TRANSLATION") == 1) {
                std::printf("translations: %s\nCancel: %s\n", qUtf8Printable(window.qtTranslationDir),
                            qUtf8Printable(QCoreApplication::translate("QPlatformTheme", "Cancel")));
                return 0;
            }
            window.show();
            const QStringList problems = window.applyStartup(commandLine.settingsFile(), commandLine.port(),
                                                             commandLine.connectNow(), commandLine.startRanging());
            for (const QString& problem : problems)
                std::fprintf(stderr, "orvane: %s\n", qUtf8Printable(problem));
            code = app->exec();
        }
    }
    return code;
}
