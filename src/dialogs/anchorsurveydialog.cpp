#include "anchorsurveydialog.h"
#include "ui_anchorsurveydialog.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLocale>

AnchorSurveyDialog::AnchorSurveyDialog(QWidget* parent) : QDialog(parent), ui(new Ui::AnchorSurveyDialog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("AnchorSurveyDialog"));
    ui->tblResult->verticalHeader()->hide();
    ui->tblResult->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto distanceOn = [this] {
        for (QWidget* w : {static_cast<QWidget*>(ui->cmbFirst), static_cast<QWidget*>(ui->cmbSecond),
                           static_cast<QWidget*>(ui->edtDistance)})
            w->setEnabled(ui->rbDistance->isChecked());
    };
    connect(ui->rbDistance, &QAbstractButton::toggled, this, distanceOn);
}

AnchorSurveyDialog::~AnchorSurveyDialog()
{
    delete ui;
}

void AnchorSurveyDialog::setTags(const QStringList& ids)
{
    const QString current = ui->cmbTag->currentText();
    ui->cmbTag->clear();
    ui->cmbTag->addItems(ids);
    if (ids.contains(current))
        ui->cmbTag->setCurrentText(current);
}

QString AnchorSurveyDialog::tag() const
{
    return ui->cmbTag->currentText();
}

void AnchorSurveyDialog::setAnchors(const QStringList& ids, int first, int second)
{
    for (QComboBox* c : {ui->cmbFirst, ui->cmbSecond}) {
        c->clear();
        c->addItems(ids);
    }
    ui->cmbFirst->setCurrentIndex(first);
    ui->cmbSecond->setCurrentIndex(second);
}

AnchorSurveyDialog::Scale AnchorSurveyDialog::scale() const
{
    return ui->rbDistance->isChecked() ? KnownDistance : ui->rbOffsets->isChecked() ? CalibratedOffsets : NoScale;
}

int AnchorSurveyDialog::knownFirst() const
{
    return ui->cmbFirst->currentIndex();
}

int AnchorSurveyDialog::knownSecond() const
{
    return ui->cmbSecond->currentIndex();
}

bool AnchorSurveyDialog::knownCm(double* cm) const
{
    bool ok = false;
    *cm = QLocale().toDouble(ui->edtDistance->text().trimmed(), &ok);
    if (!ok)
        *cm = ui->edtDistance->text().trimmed().toDouble(&ok);
    return ok && *cm > 0 && ui->cmbFirst->currentIndex() != ui->cmbSecond->currentIndex();
}

void AnchorSurveyDialog::setHeightText(const QString& text)
{
    ui->lblHeight->setText(text);
}

void AnchorSurveyDialog::setCollecting(bool on)
{
    ui->btnStart->setEnabled(!on);
    ui->btnStop->setEnabled(on);
    ui->btnCancel->setEnabled(on);
    for (QWidget* w : {static_cast<QWidget*>(ui->cmbTag), static_cast<QWidget*>(ui->rbDistance),
                       static_cast<QWidget*>(ui->rbOffsets), static_cast<QWidget*>(ui->rbNone)})
        w->setEnabled(!on);
    if (on) {
        setApplyEnabled(false);
        setBiasEnabled(false);
    }
}

void AnchorSurveyDialog::setProgress(const QString& text)
{
    ui->lblProgress->setText(text);
}

void AnchorSurveyDialog::setPicture(const QVector<QPointF>& anchors, const QStringList& ids, const QVector<QPointF>& walk)
{
    ui->walkPreview->setAnchors(anchors, ids);
    ui->walkPreview->setWalk(walk);
}

void AnchorSurveyDialog::setTable(const QStringList& headers, const QVector<QStringList>& rows)
{
    ui->tblResult->clear();
    ui->tblResult->setColumnCount(headers.size());
    ui->tblResult->setHorizontalHeaderLabels(headers);
    ui->tblResult->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows.at(r).size(); ++c) {
            auto* item = new QTableWidgetItem(rows.at(r).at(c));
            item->setTextAlignment(c == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : (Qt::AlignRight | Qt::AlignVCenter));
            ui->tblResult->setItem(r, c, item);
        }
}

void AnchorSurveyDialog::setSummary(const QString& residual, const QString& bias, bool biasButton)
{
    ui->lblResidual->setText(residual);
    ui->lblBias->setText(bias);
    ui->btnApplyBias->setVisible(biasButton);
}

void AnchorSurveyDialog::setWarning(const QString& text)
{
    ui->lblWarning->setText(text);
}

void AnchorSurveyDialog::setApplyEnabled(bool on)
{
    ui->btnApply->setEnabled(on);
}

void AnchorSurveyDialog::setBiasEnabled(bool on)
{
    ui->btnApplyBias->setEnabled(on);
}

void AnchorSurveyDialog::closeEvent(QCloseEvent* event)
{
    // Closing stops a collection under way, as "Abbrechen" does.
    if (ui->btnCancel->isEnabled())
        emit cancelRequested();
    event->accept();
}
