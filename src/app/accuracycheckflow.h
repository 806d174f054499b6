#ifndef ACCURACYCHECKFLOW_H
#define ACCURACYCHECKFLOW_H

#include "knownpointflow.h"

#include <functional>

// "Genauigkeit prüfen": how far the raw fix and the shown position of tags
// at known points stray (mean error, deviation, CEP50, R95, maximum);
// "Speichern" writes the report as CSV.
class AccuracyCheckFlow : public KnownPointFlow
{
    Q_OBJECT

public:
    AccuracyCheckFlow(const Context& context, QObject* parent);

    // Asks for the file to save to; empty: not saved.
    std::function<QString()> chooseFile;

protected:
    void showResult() override;
    void apply() override;
};

#endif
