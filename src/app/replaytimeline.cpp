#include "replaytimeline.h"
#include "ui_replaytimeline.h"

#include "qtcompat.h"
#include "recordingfiles.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

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
    ui->sldPosition->installEventFilter(this);
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

bool ReplayTimeline::eventFilter(QObject* watched, QEvent* event)
{
    QSlider* slider = ui->sldPosition;
    if (watched != slider || event->type() != QEvent::MouseButtonPress)
        return QWidget::eventFilter(watched, event);
    auto* press = static_cast<QMouseEvent*>(event);
    const QPoint pos = QtCompat::position(press).toPoint();
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.upsideDown = slider->invertedAppearance();
    const QStyle::SubControl hit = slider->style()->hitTestComplexControl(QStyle::CC_Slider, &opt, pos, slider);
    // The handle is dragged as ever; the track is where the user wants to be.
    if (press->button() != Qt::LeftButton || hit == QStyle::SC_SliderHandle)
        return QWidget::eventFilter(watched, event);
    const QRect groove = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, slider);
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
    const int span = groove.width() - handle.width();
    const int at = pos.x() - groove.x() - handle.width() / 2;
    const int value = QStyle::sliderValueFromPosition(slider->minimum(), slider->maximum(), at, qMax(span, 1),
                                                      opt.upsideDown);
    slider->setValue(value);   // valueChanged: the seek
    return true;
}

void ReplayTimeline::setPaused(bool on)
{
    paused = on;
    ui->btnPlayPause->setText(on ? tr("Weiter") : tr("Pause"));
}
