#ifndef KNOWNPOINTFLOW_H
#define KNOWNPOINTFLOW_H

#include "knownpointcollector.h"
#include "knownpointdialog.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class ModuleSetup;
class QWidget;
struct PositioningPass;

// A tag placed at a known point, and what its ranges and positions say there:
// the dialog, the collection for a chosen time with progress and cancel, and
// points pooled one after another. What the result means (offsets, accuracy)
// is the subclass's.
class KnownPointFlow : public QObject
{
    Q_OBJECT

public:
    // What the flow needs of the window it works for.
    struct Context
    {
        ModuleSetup* modules = nullptr;
        QWidget* window = nullptr;                       // the dialog's parent
        std::function<std::optional<int>()> tagHeight;   // "Tag-Höhe", when set
        QWidget* chart = nullptr;                        // the dialog keeps beside it
        // The point last typed or picked, which every known-point dialog shares.
        std::shared_ptr<std::optional<QPoint>> lastPoint = std::make_shared<std::optional<QPoint>>();
    };

    KnownPointFlow(const Context& context, const QString& title, const QString& applyText, QObject* parent);
    ~KnownPointFlow() override;

    // Shows the dialog (again), with the tags as they are now.
    void open();
    KnownPointDialog* dialog() const { return dlg; }
    bool collecting() const { return running; }
    const KnownPointCollector& collected() const { return collector; }

public slots:
    void rangingLine(const QByteArray& line, const QTime& received);
    void passComputed(const PositioningPass& pass);
    // A click on the chart at world point `at` (cm): the point, while picking.
    void chartClicked(const QPoint& at);

protected:
    virtual void showResult() = 0;
    virtual void apply() = 0;
    // "trotzdem übernehmen" was ticked or cleared.
    virtual void applyAnywayToggled(bool /*on*/) {}

    Context ctx;
    KnownPointCollector collector;
    QPointer<KnownPointDialog> dlg;

private:
    void place();
    void rememberPoint();
    void start();
    void cancel();
    void tick();
    void reset();

    QString title, applyText;
    QTimer ticker;
    QElapsedTimer elapsed;
    int durationMs = 0;
    bool running = false;
};

#endif
