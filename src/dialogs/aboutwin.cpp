#include "aboutwin.h"
#include "ui_aboutwin.h"

#include "buildversion.h"

AboutWin::AboutWin(QWidget* parent)
    : QDialog(parent), ui(new Ui::AboutWin)
{
    ui->setupUi(this);
    // The build's own version, with the commit for a build from a checkout.
    ui->label->setText(tr("Version %1").arg(QString::fromUtf8(BuildVersion::full())) + QLatin1Char('\n') + ui->label->text());
}

AboutWin::~AboutWin()
{
    delete ui;
}

void AboutWin::on_btnOk_clicked()
{
    close();
}
