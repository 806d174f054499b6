#include "knownpointflow.h"

#include "knownpointdialog.h"
#include "modulesetup.h"
#include "rangingsample.h"

#include <QScreen>

KnownPointFlow::KnownPointFlow(const Context& context, const QString& title, const QString& applyText, QObject* parent)
    : QObject(parent), ctx(context), title(title), applyText(applyText)
{
    ticker.setInterval(200);
    connect(&ticker, &QTimer::timeout, this, &KnownPointFlow::tick);
}

KnownPointFlow::~KnownPointFlow()
{
    delete dlg;
}

void KnownPointFlow::open()
{
    if (!dlg) {
        dlg = new KnownPointDialog(title, applyText, ctx.window);
        connect(dlg, &KnownPointDialog::startRequested, this, &KnownPointFlow::start);
        connect(dlg, &KnownPointDialog::cancelRequested, this, &KnownPointFlow::cancel);
        connect(dlg, &KnownPointDialog::resetRequested, this, &KnownPointFlow::reset);
        connect(dlg, &KnownPointDialog::applyRequested, this, &KnownPointFlow::apply);
        connect(dlg, &KnownPointDialog::applyAnywayToggled, this, &KnownPointFlow::applyAnywayToggled);
        connect(dlg, &QDialog::finished, this, &KnownPointFlow::rememberPoint);
        place();
    }
    // The point the other dialog was given comes along.
    if (*ctx.lastPoint && !running)
        dlg->setPoint(**ctx.lastPoint);
    QVector<QPair<QString, QString>> tags;
    for (const Tag& t : ctx.modules->tags)
        tags.append({t.id, t.name});
    dlg->setTags(tags);
    const std::optional<int> height = ctx.tagHeight ? ctx.tagHeight() : std::nullopt;
    dlg->setHeightText(height ? tr("%1 cm (aus \"Tag-Höhe\")").arg(*height)
                              : tr("keine \"Tag-Höhe\": Abstände in der Ebene"));
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
}

// Beside the chart, so that the tags and the click on the floor stay in
// view: right or left of the window where the screen has room, else over the
// side panel, its right edge at the chart's left.
void KnownPointFlow::place()
{
    dlg->adjustSize();
    dlg->resize(qMin(dlg->width(), 640), qMin(dlg->height(), 560));
    QWidget* window = ctx.window ? ctx.window->window() : nullptr;
    if (!window)
        return;
    const QScreen* screen = window->screen();
    const QRect avail = screen ? screen->availableGeometry() : QRect();
    const QRect frame = window->frameGeometry();
    const QSize size = dlg->frameGeometry().size().expandedTo(dlg->size());
    QPoint at;
    if (avail.isValid() && avail.right() - frame.right() >= size.width())
        at = QPoint(frame.right() + 1, frame.top());
    else if (avail.isValid() && frame.left() - avail.left() >= size.width())
        at = QPoint(frame.left() - size.width(), frame.top());
    else if (ctx.chart && ctx.chart->isVisible())
        at = ctx.chart->mapToGlobal(QPoint(0, 0)) - QPoint(size.width(), 0);
    else
        at = frame.topLeft();
    if (avail.isValid())
        at = QPoint(qMax(at.x(), avail.left()), qBound(avail.top(), at.y(), qMax(avail.top(), avail.bottom() - size.height())));
    dlg->move(at);
}

void KnownPointFlow::rememberPoint()
{
    QPointF at;
    if (dlg && dlg->point(&at))
        *ctx.lastPoint = at.toPoint();
}

void KnownPointFlow::start()
{
    QPointF at;
    if (!dlg || running)
        return;
    if (dlg->tag().isEmpty() || !dlg->point(&at)) {
        dlg->setWarning(tr("Bitte einen Tag wählen und X und Y in cm eingeben oder im Diagramm wählen."));
        return;
    }
    dlg->setWarning(QString());
    dlg->setPicking(false);
    *ctx.lastPoint = at.toPoint();
    collector.begin(dlg->tag(), at);
    durationMs = dlg->durationSeconds() * 1000;
    running = true;
    elapsed.start();
    ticker.start();
    dlg->setCollecting(true);
    tick();
}

void KnownPointFlow::cancel()
{
    if (!running)
        return;
    running = false;
    ticker.stop();
    collector.discard();
    if (dlg) {
        dlg->setCollecting(false);
        dlg->setProgress(0, tr("Abgebrochen."));
        showResult();
    }
}

void KnownPointFlow::reset()
{
    if (running)
        return;
    collector.clear();
    if (dlg) {
        dlg->setProgress(0, QString());
        showResult();
    }
}

void KnownPointFlow::tick()
{
    if (!running || !dlg)
        return;
    const qint64 ms = elapsed.elapsed();
    const int points = collector.ranges().size();
    dlg->setProgress(int(qMin<qint64>(100, ms * 100 / qMax(1, durationMs))),
                     tr("Punkt %1: %2 Messungen in %3 von %4 s")
                         .arg(points).arg(collector.activeRangeCount())
                         .arg(qMin<qint64>(ms, durationMs) / 1000).arg(durationMs / 1000));
    if (ms < durationMs)
        return;
    running = false;
    ticker.stop();
    const int count = collector.activeRangeCount();
    collector.finish();
    dlg->setCollecting(false);
    dlg->setProgress(100, count > 0 ? tr("%n Punkt(e) gesammelt; ein weiterer Punkt kommt mit \"Start\" hinzu.", "", points)
                                    : tr("Keine Messungen von Tag %1 empfangen.").arg(dlg->tag()));
    showResult();
}

void KnownPointFlow::rangingLine(const QByteArray& line, const QTime& received)
{
    if (!running)
        return;
    RangingSample sample(line, received);
    (void)sample.parse();
    collector.addSample(sample, ctx.modules->anchors, ctx.tagHeight ? ctx.tagHeight() : std::nullopt);
}

void KnownPointFlow::passComputed(const PositioningPass& pass)
{
    if (running)
        collector.addPass(pass, *ctx.modules);
}

void KnownPointFlow::chartClicked(const QPoint& at)
{
    if (!dlg || !dlg->isVisible() || !dlg->picking())
        return;
    dlg->setPoint(at);
    dlg->setPicking(false);
    *ctx.lastPoint = at;
}
