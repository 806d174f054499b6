#ifndef OFFSETCALIBRATIONFLOW_H
#define OFFSETCALIBRATIONFLOW_H

#include "knownpointflow.h"
#include "offsetproposal.h"

#include <QList>
#include <QPair>

// "Offsets einmessen": per anchor the offset that the raw ranges at known
// points propose; "Übernehmen" puts them into the anchor records.
class OffsetCalibrationFlow : public KnownPointFlow
{
    Q_OBJECT

public:
    OffsetCalibrationFlow(const Context& context, QObject* parent);

    const QVector<OffsetProposal>& proposals() const { return current; }

signals:
    // The offsets were replaced; `before` holds them as they were (anchor id, offset).
    void offsetsApplied(const QList<QPair<QString, int>>& before);

protected:
    void showResult() override;
    void apply() override;
    void applyAnywayToggled(bool on) override;

private:
    QVector<OffsetProposal> current;
    bool doubtful = false;   // some proposal fails the checks: applied only when ticked anyway
};

#endif
