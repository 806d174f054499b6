#include "toolspanel.h"
#include "ui_toolspanel.h"

#include <QIntValidator>

ToolsPanel::ToolsPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::ToolsPanel)
{
    ui->setupUi(this);
    ui->edtTagHeight->setValidator(new QIntValidator(-100000, 100000, ui->edtTagHeight));
    ui->cmbLastMeasures->setCurrentText(QStringLiteral("10"));
    connect(ui->cmbLastMeasures, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &ToolsPanel::averageChosen);
    connect(ui->cmbFilter, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &ToolsPanel::filterChosen);
    connect(ui->edtTagHeight, &QLineEdit::textChanged, this, &ToolsPanel::tagHeightEdited);
    connect(ui->spnTrailSeconds, QOverload<int>::of(&QSpinBox::valueChanged), this, &ToolsPanel::trailSecondsChosen);
    connect(ui->btnSelectBackground, &QPushButton::clicked, this, &ToolsPanel::selectBackgroundRequested);
    connect(ui->btnClearBackground, &QPushButton::clicked, this, &ToolsPanel::clearBackgroundRequested);
    connect(ui->btnBGImageSetup, &QPushButton::clicked, this, &ToolsPanel::calibrationRequested);
    connect(ui->btnBGImageOrigin, &QPushButton::clicked, this, &ToolsPanel::originRequested);
    connect(ui->btnBGImageDist, &QPushButton::clicked, this, &ToolsPanel::pointRequested);
    connect(ui->edtBGImageDistance, &QLineEdit::textChanged, this, &ToolsPanel::distanceEdited);
    connect(ui->btnAcceptBGImageSetup, &QPushButton::clicked, this, &ToolsPanel::calibrationAccepted);
    connect(ui->btnAcceptBGImageCancel, &QPushButton::clicked, this, &ToolsPanel::calibrationCancelled);
    connect(ui->btnLoadSettings, &QPushButton::clicked, this, &ToolsPanel::loadSettingsRequested);
    connect(ui->btnSaveSettings, &QPushButton::clicked, this, &ToolsPanel::saveSettingsRequested);
    connect(ui->btnMqtt, &QPushButton::clicked, this, &ToolsPanel::mqttRequested);
    connect(ui->btnCalibrateOffsets, &QPushButton::clicked, this, &ToolsPanel::calibrateOffsetsRequested);
    connect(ui->btnSurveyAnchors, &QPushButton::clicked, this, &ToolsPanel::surveyAnchorsRequested);
    connect(ui->btnCheckAccuracy, &QPushButton::clicked, this, &ToolsPanel::checkAccuracyRequested);
    connect(ui->btnLinkQuality, &QPushButton::clicked, this, &ToolsPanel::linkQualityRequested);
    connect(ui->btnSiteView, &QPushButton::clicked, this, &ToolsPanel::siteViewRequested);
    setCalibrating(false);
}

ToolsPanel::~ToolsPanel()
{
    delete ui;
}

QString ToolsPanel::averageText() const { return ui->cmbLastMeasures->currentText(); }
void ToolsPanel::setAverageText(const QString& text) { ui->cmbLastMeasures->setCurrentText(text); }
int ToolsPanel::filterIndex() const { return ui->cmbFilter->currentIndex(); }
void ToolsPanel::setFilterIndex(int index) { ui->cmbFilter->setCurrentIndex(index); }
QString ToolsPanel::tagHeightText() const { return ui->edtTagHeight->text(); }
void ToolsPanel::setTagHeightText(const QString& text) { ui->edtTagHeight->setText(text); }
int ToolsPanel::trailSeconds() const { return ui->spnTrailSeconds->value(); }
void ToolsPanel::setTrailSeconds(int seconds) { ui->spnTrailSeconds->setValue(seconds); }
void ToolsPanel::clearDistance() { ui->edtBGImageDistance->setText(QString()); }

void ToolsPanel::setCalibrating(bool calibrating)
{
    ui->btnBGImageOrigin->setEnabled(calibrating);
    ui->btnAcceptBGImageCancel->setEnabled(calibrating);
    ui->btnAcceptBGImageSetup->setEnabled(calibrating);
    ui->btnBGImageDist->setEnabled(calibrating);
    ui->edtBGImageDistance->setEnabled(calibrating);
    ui->btnBGImageSetup->setEnabled(!calibrating);
}
