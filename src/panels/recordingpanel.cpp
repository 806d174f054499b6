#include "recordingpanel.h"
#include "ui_recordingpanel.h"

RecordingPanel::RecordingPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::RecordingPanel)
{
    ui->setupUi(this);
    connect(ui->btnRecord, &QPushButton::clicked, this, &RecordingPanel::recordRequested);
    connect(ui->btnReplay, &QPushButton::clicked, this, &RecordingPanel::replayRequested);
}

RecordingPanel::~RecordingPanel()
{
    delete ui;
}

void RecordingPanel::showControls(bool record, const QString& recordText, bool replay, const QString& replayText)
{
    ui->btnRecord->setEnabled(record);
    ui->btnRecord->setText(recordText);
    ui->btnReplay->setEnabled(replay);
    ui->btnReplay->setText(replayText);
}

bool RecordingPanel::exportsDistances() const { return ui->chkExportDistances->isChecked(); }
