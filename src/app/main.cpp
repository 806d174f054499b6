#include "mainwin.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    int code = 0;
    {
        QApplication app(argc, argv);
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
            code = app.exec();
        }
    }
    return code;
}
