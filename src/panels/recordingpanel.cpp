#include "recordingpanel.h"
#include "ui_recordingpanel.h"

RecordingPanel::RecordingPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::RecordingPanel)
{
    ui->setupUi(this);
    connect(ui->btnRecord, &QPushButton::clicked, this, &RecordingPanel::recordRequested);
    connect(ui->btnReplay, &QPushButton::clicked, this, &RecordingPanel::replayRequested);
    connect(ui->cmbReplaySpeed, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &RecordingPanel::replaySpeedChosen);
}

RecordingPanel::~RecordingPanel()
{
    delete ui;
}

void RecordingPanel::setConnected(bool connected)
{
    ui->btnRecord->setEnabled(connected);
    ui->btnReplay->setEnabled(!connected);
}

void RecordingPanel::setRecording(bool on)
{
    ui->btnRecord->setText(on ? tr("Aufzeichnung beenden") : tr("Aufzeichnung starten"));
}

void RecordingPanel::setReplaying(bool on)
{
    ui->btnReplay->setText(on ? tr("Wiedergabe beenden") : tr("Aufzeichnung abspielen"));
}

void RecordingPanel::setRecordEnabled(bool on) { ui->btnRecord->setEnabled(on); }
int RecordingPanel::replaySpeedIndex() const { return ui->cmbReplaySpeed->currentIndex(); }
