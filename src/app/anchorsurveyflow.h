#ifndef ANCHORSURVEYFLOW_H
#define ANCHORSURVEYFLOW_H

#include "anchorsurvey.h"
#include "anchorsurveycollector.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QPointer>
#include <QTime>
#include <QTimer>

#include <functional>
#include <optional>

class AnchorSurveyDialog;
class ModuleSetup;
class QWidget;

// "Anker vermessen": a tag walked around the room while its ranges are
// collected, then the anchors' X/Y solved from them and proposed. Nothing in
// the anchor table changes until "Übernehmen" (positions) or the bias button
// (offsets); both are announced with what they replaced, for Ctrl+Z.
class AnchorSurveyFlow : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        ModuleSetup* modules = nullptr;
        QWidget* window = nullptr;                       // the dialog's parent
        std::function<std::optional<int>()> tagHeight;   // "Tag-Höhe", when set
    };

    AnchorSurveyFlow(const Context& context, QObject* parent);
    ~AnchorSurveyFlow() override;

    void open();
    AnchorSurveyDialog* dialog() const;
    bool collecting() const { return running; }
    const AnchorSurveyResult& result() const { return solved; }

public slots:
    void rangingLine(const QByteArray& line, const QTime& received);

signals:
    void positionsApplied(const QList<QPair<QString, QPoint>>& before);
    void offsetsApplied(const QList<QPair<QString, int>>& before);

private:
    void start();
    void stop();
    void cancel();
    void tick();
    void showResult();
    void apply();
    void applyBias();

    Context ctx;
    QPointer<AnchorSurveyDialog> dlg;
    AnchorSurveyCollector collector;
    QVector<QPointF> preview;      // raw fixes on the anchors as they stand
    AnchorSurveyResult solved;
    bool scalePinned = false;
    QTimer ticker;
    QElapsedTimer elapsed;
    bool running = false;
    qint64 firstMs = -1;           // the first line's time of day
};

#endif
