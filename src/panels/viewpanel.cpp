#include "viewpanel.h"
#include "ui_viewpanel.h"

#include "numberedit.h"
#include "parseint.h"

#include <QIntValidator>

ViewPanel::ViewPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::ViewPanel)
{
    ui->setupUi(this);
    // The grid takes whole centimetres only; a size must be positive.
    guardNumberEdit(ui->edtGridW, 1, 10000000);
    guardNumberEdit(ui->edtGridH, 1, 10000000);
    guardNumberEdit(ui->edtGridX, -10000000, 10000000);
    guardNumberEdit(ui->edtGridY, -10000000, 10000000);
    for (QLineEdit* e : {ui->edtGridX, ui->edtGridY, ui->edtGridW, ui->edtGridH})
        connect(e, &QLineEdit::textChanged, this, &ViewPanel::viewEdited);
    connect(ui->chkDrawGrid, &QCheckBox::toggled, this, &ViewPanel::viewEdited);
    connect(ui->chkDrawBGImage, &QCheckBox::toggled, this, &ViewPanel::viewEdited);
    connect(ui->chkShowCoverage, &QCheckBox::toggled, this, &ViewPanel::viewEdited);
    // Empty is a valid answer here (no limit), so no tint for it.
    ui->edtRangeLimit->setValidator(new QIntValidator(1, 10000000, ui->edtRangeLimit));
    connect(ui->edtRangeLimit, &QLineEdit::textChanged, this, &ViewPanel::viewEdited);
    connect(ui->btnFitView, &QPushButton::clicked, this, &ViewPanel::fitRequested);
    connect(ui->btnResetGrid, &QPushButton::clicked, this, &ViewPanel::resetRequested);
}

ViewPanel::~ViewPanel()
{
    delete ui;
}

bool ViewPanel::gridRect(int& x, int& y, int& w, int& h) const
{
    return parseInt(ui->edtGridW->text(), w) && parseInt(ui->edtGridH->text(), h)
           && parseInt(ui->edtGridX->text(), x) && parseInt(ui->edtGridY->text(), y);
}

void ViewPanel::setGridRect(int x, int y, int w, int h)
{
    ui->edtGridX->setText(QString::number(x));
    ui->edtGridY->setText(QString::number(y));
    ui->edtGridW->setText(QString::number(w));
    ui->edtGridH->setText(QString::number(h));
}

QStringList ViewPanel::gridTexts() const
{
    return {ui->edtGridX->text(), ui->edtGridY->text(), ui->edtGridW->text(), ui->edtGridH->text()};
}

void ViewPanel::setGridTexts(const QStringList& xywh)
{
    if (xywh.size() != 4)
        return;
    ui->edtGridX->setText(xywh.at(0));
    ui->edtGridY->setText(xywh.at(1));
    ui->edtGridW->setText(xywh.at(2));
    ui->edtGridH->setText(xywh.at(3));
}

bool ViewPanel::drawsGrid() const { return ui->chkDrawGrid->isChecked(); }
void ViewPanel::setDrawsGrid(bool on) { ui->chkDrawGrid->setChecked(on); }
bool ViewPanel::drawsBackground() const { return ui->chkDrawBGImage->isChecked(); }
void ViewPanel::setDrawsBackground(bool on) { ui->chkDrawBGImage->setChecked(on); }
bool ViewPanel::showsCoverage() const { return ui->chkShowCoverage->isChecked(); }
void ViewPanel::setShowsCoverage(bool on) { ui->chkShowCoverage->setChecked(on); }
QString ViewPanel::rangeLimitText() const { return ui->edtRangeLimit->text(); }
void ViewPanel::setRangeLimitText(const QString& text) { ui->edtRangeLimit->setText(text); }

int ViewPanel::rangeLimit() const
{
    int cm = 0;
    return parseInt(ui->edtRangeLimit->text(), cm) && cm > 0 ? cm : 0;
}

bool ViewPanel::anchorsLocked() const { return ui->chkLockAnchors->isChecked(); }
void ViewPanel::setAnchorsLocked(bool on) { ui->chkLockAnchors->setChecked(on); }
