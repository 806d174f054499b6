#include "accuracycheckflow.h"

#include "knownpointdialog.h"
#include "knownpointreport.h"

#include <QMessageBox>
#include <QSaveFile>

AccuracyCheckFlow::AccuracyCheckFlow(const Context& context, QObject* parent)
    : KnownPointFlow(context, tr("Genauigkeit prüfen"), tr("Speichern"), parent)
{
}

void AccuracyCheckFlow::showResult()
{
    QVector<QStringList> rows;
    for (const KnownPointCollector::Positions& p : collector.positions()) {
        const QString where = QStringLiteral("%1 / %2").arg(p.truth.x()).arg(p.truth.y());
        for (const auto& kind : {qMakePair(tr("Rohposition"), &p.raw), qMakePair(tr("angezeigt"), &p.shown)}) {
            const ErrorStatistics s = errorStatistics(*kind.second, p.truth);
            auto cm = [](double v) { return QString::number(v, 'f', 1); };
            rows.append({p.tagId, where, kind.first, QString::number(s.n), cm(s.meanDx), cm(s.meanDy), cm(s.sigmaX),
                         cm(s.sigmaY), cm(s.cep50), cm(s.r95), cm(s.max)});
        }
    }
    dlg->setTable({tr("Tag"), tr("Punkt [cm]"), tr("Position"), tr("n"), tr("Mittel dx [cm]"), tr("Mittel dy [cm]"),
                   tr("σx [cm]"), tr("σy [cm]"), tr("CEP50 [cm]"), tr("R95 [cm]"), tr("Max [cm]")},
                  rows, {});
    dlg->setApplyEnabled(!rows.isEmpty());
}

void AccuracyCheckFlow::apply()
{
    const QString path = chooseFile ? chooseFile() : QString();
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray text = accuracyCsvLines(collector.positions()).join(QLatin1Char('\n')).toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        QMessageBox::warning(dlg, tr("Genauigkeit prüfen"),
                             tr("Der Bericht konnte nicht gespeichert werden:\n%1").arg(path));
}
