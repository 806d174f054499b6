#include "mainwin.h"

#include <QApplication>

int main(int argc, char** argv)
{
    int code = 0;
    {
        QApplication app(argc, argv);
        {
            MainWin window(nullptr);
            window.show();
            code = app.exec();
        }
    }
    return code;
}
