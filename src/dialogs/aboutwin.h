#ifndef ABOUTWIN_H
#define ABOUTWIN_H

#include <QDialog>

namespace Ui {
class AboutWin;
}

// The small "Über Orvane" box naming the program, its version and its publisher.
class AboutWin : public QDialog
{
    Q_OBJECT

public:
    explicit AboutWin(QWidget* parent);
    ~AboutWin() override;

private slots:
    void on_btnOk_clicked();

private:
    Ui::AboutWin* ui;
};

#endif
