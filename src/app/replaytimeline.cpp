#include "replaytimeline.h"
#include "ui_replaytimeline.h"

#include "recordingfiles.h"

ReplayTimeline::ReplayTimeline(QWidget* parent)
    : QWidget(parent), ui(new Ui::ReplayTimeline)
{
    ui->setupUi(this);
    ui->sldPosition->setTracking(false);   // one seek when the handle is let go, not one per pixel
    connect(ui->btnPlayPause, &QPushButton::clicked, this, [this] {
        setPaused(!paused);
        emit pauseToggled(paused);
    });
    connect(ui->sldPosition, &QSlider::valueChanged, this, [this](int ms) { emit seekRequested(quint32(qMax(0, ms))); });
    connect(ui->cmbReplaySpeed, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { emit speedChanged(speedAt(index)); });
}

ReplayTimeline::~ReplayTimeline()
{
    delete ui;
}

double ReplayTimeline::speedAt(int index)
{
    static const double speeds[] = {1.0, 2.0, 5.0, 10.0, 0.0};
    return speeds[qBound(0, index, 4)];
}

double ReplayTimeline::speed() const
{
    return speedAt(ui->cmbReplaySpeed->currentIndex());
}

void ReplayTimeline::setProgress(quint32 nowMs, quint32 totalMs)
{
    ui->lblTime->setText(QStringLiteral("%1 / %2").arg(RecordingFiles::clockText(nowMs), RecordingFiles::clockText(totalMs)));
    // Not while the user holds the handle; and moving it here is no seek.
    if (ui->sldPosition->isSliderDown())
        return;
    const QSignalBlocker quiet(ui->sldPosition);
    ui->sldPosition->setRange(0, int(qMin<quint32>(totalMs, quint32(INT_MAX))));
    ui->sldPosition->setValue(int(qMin<quint32>(nowMs, quint32(INT_MAX))));
}

void ReplayTimeline::setPaused(bool on)
{
    paused = on;
    ui->btnPlayPause->setText(on ? tr("Weiter") : tr("Pause"));
}
