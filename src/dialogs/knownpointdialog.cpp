#include "knownpointdialog.h"

#include "ui_knownpointdialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>

KnownPointDialog::KnownPointDialog(const QString& title, const QString& applyText, QWidget* parent)
    : QDialog(parent), ui(new Ui::KnownPointDialog)
{
    ui->setupUi(this);
    setWindowTitle(title);
    ui->btnApply->setText(applyText);
    ui->tblResult->verticalHeader()->hide();
    ui->tblResult->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(ui->chkApplyAnyway, &QCheckBox::toggled, this, &KnownPointDialog::applyAnywayToggled);
    // Not modal: the chart stays live behind it, for the ranging and the pick.
    setModal(false);
}

KnownPointDialog::~KnownPointDialog()
{
    delete ui;
}

void KnownPointDialog::setTags(const QVector<QPair<QString, QString>>& tags)
{
    const QString current = tag();
    const QSignalBlocker quiet(ui->cmbTag);
    ui->cmbTag->clear();
    for (const auto& t : tags)
        ui->cmbTag->addItem(t.second.trimmed().isEmpty() || t.second.trimmed() == t.first.trimmed()
                                ? t.first
                                : tr("%1 (%2)").arg(t.second, t.first),
                            t.first);
    // A tag is chosen on purpose: the first of the list is no better guess than any other.
    ui->cmbTag->setCurrentIndex(current.isEmpty() ? -1 : ui->cmbTag->findData(current));
}

QString KnownPointDialog::tag() const
{
    return ui->cmbTag->currentIndex() < 0 ? QString() : ui->cmbTag->currentData().toString();
}

bool KnownPointDialog::point(QPointF* at) const
{
    bool okX = false, okY = false;
    const double x = ui->edtX->text().trimmed().toDouble(&okX);
    const double y = ui->edtY->text().trimmed().toDouble(&okY);
    if (okX && okY)
        *at = QPointF(x, y);
    return okX && okY;
}

void KnownPointDialog::setPoint(const QPoint& at)
{
    ui->edtX->setText(QString::number(at.x()));
    ui->edtY->setText(QString::number(at.y()));
}

void KnownPointDialog::on_btnPickPoint_toggled(bool on)
{
    // While picking, the dialog says what the next click on the chart does.
    const QString hint = tr("Klicken Sie in das Diagramm auf den Punkt, an dem der Tag steht.");
    if (on) {
        beforePicking = ui->lblCollected->text();
        ui->lblCollected->setText(hint);
    } else if (ui->lblCollected->text() == hint) {
        ui->lblCollected->setText(beforePicking);
    }
    emit pickToggled(on);
}

void KnownPointDialog::setHeightText(const QString& text)
{
    ui->lblHeight->setText(text);
}

int KnownPointDialog::durationSeconds() const
{
    return ui->spnDuration->value();
}

void KnownPointDialog::setDurationSeconds(int s)
{
    ui->spnDuration->setValue(s);
}

bool KnownPointDialog::picking() const
{
    return ui->btnPickPoint->isChecked();
}

void KnownPointDialog::setPicking(bool on)
{
    ui->btnPickPoint->setChecked(on);
}

void KnownPointDialog::setCollecting(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(ui->cmbTag), static_cast<QWidget*>(ui->edtX),
                       static_cast<QWidget*>(ui->edtY), static_cast<QWidget*>(ui->btnPickPoint),
                       static_cast<QWidget*>(ui->spnDuration), static_cast<QWidget*>(ui->btnStart),
                       static_cast<QWidget*>(ui->btnReset)})
        w->setEnabled(!on);
    ui->btnCancel->setEnabled(on);
    if (on)
        ui->btnApply->setEnabled(false);
}

void KnownPointDialog::setProgress(int percent, const QString& text)
{
    ui->barProgress->setValue(percent);
    ui->lblCollected->setText(text);
}

void KnownPointDialog::setTable(const QStringList& headers, const QVector<QStringList>& rows, const QVector<bool>& marked)
{
    ui->tblResult->clear();
    ui->tblResult->setColumnCount(headers.size());
    ui->tblResult->setHorizontalHeaderLabels(headers);
    setColumnToolTips(columnTips);
    ui->tblResult->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows.at(r).size() && c < headers.size(); ++c) {
            auto* item = new QTableWidgetItem(rows.at(r).at(c));
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (marked.value(r))
                item->setBackground(QColor(255, 220, 220));
            ui->tblResult->setItem(r, c, item);
        }
}

void KnownPointDialog::setColumnToolTips(const QStringList& tips)
{
    columnTips = tips;
    for (int c = 0; c < ui->tblResult->columnCount() && c < tips.size(); ++c)
        if (QTableWidgetItem* header = ui->tblResult->horizontalHeaderItem(c))
            header->setToolTip(tips.at(c));
}

void KnownPointDialog::setLegend(const QString& text)
{
    if (!legend) {
        legend = new QLabel(this);
        legend->setObjectName(QStringLiteral("lblLegend"));
        legend->setWordWrap(true);
        ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->tblResult) + 1, legend);
    }
    legend->setText(text);
}

void KnownPointDialog::setWarning(const QString& text)
{
    ui->lblWarning->setText(text);
}

void KnownPointDialog::setApplyEnabled(bool on)
{
    ui->btnApply->setEnabled(on);
}

void KnownPointDialog::offerApplyAnyway(bool offer)
{
    const QSignalBlocker quiet(ui->chkApplyAnyway);
    ui->chkApplyAnyway->setChecked(false);
    ui->chkApplyAnyway->setVisible(offer);
}

bool KnownPointDialog::applyAnyway() const
{
    return ui->chkApplyAnyway->isVisibleTo(this) && ui->chkApplyAnyway->isChecked();
}

void KnownPointDialog::closeEvent(QCloseEvent* event)
{
    // A collection under way ends with the dialog.
    emit cancelRequested();
    setPicking(false);
    QDialog::closeEvent(event);
}
