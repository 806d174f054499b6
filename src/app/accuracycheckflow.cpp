#include "accuracycheckflow.h"

#include "knownpointdialog.h"
#include "knownpointreport.h"

#include <QDir>
#include <QFileInfo>
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
    // What the figures mean, for readers who do not know the terms.
    const QString sigma = tr("Standardabweichung der Positionen um ihren Mittelwert in %1 (Streuung)");
    const QString cep50 = tr("CEP50: Radius um den Punkt, in dem die Hälfte der Positionen liegt");
    const QString r95 = tr("R95: Radius um den Punkt, in dem 95 % der Positionen liegen");
    dlg->setColumnToolTips({QString(), tr("Wo der Tag stand (X / Y)"), tr("Rohposition oder die angezeigte (gefilterte)"),
                            tr("Anzahl der Positionen"), tr("Mittlere Abweichung in X (systematischer Fehler)"),
                            tr("Mittlere Abweichung in Y (systematischer Fehler)"), sigma.arg(QStringLiteral("X")),
                            sigma.arg(QStringLiteral("Y")), cep50, r95, tr("Größte Abweichung vom Punkt")});
    dlg->setLegend(tr("σ: Streuung um den Mittelwert · CEP50: Radius mit der Hälfte der Positionen · "
                      "R95: Radius mit 95 % der Positionen"));
    dlg->setTable({tr("Tag"), tr("Punkt [cm]"), tr("Position"), tr("n"), tr("Mittel dx [cm]"), tr("Mittel dy [cm]"),
                   tr("σx [cm]"), tr("σy [cm]"), tr("CEP50 [cm]"), tr("R95 [cm]"), tr("Max [cm]")},
                  rows, {});
    dlg->setApplyEnabled(!rows.isEmpty());
}

void AccuracyCheckFlow::apply()
{
    QString path = chooseFile ? chooseFile() : QString();
    if (path.isEmpty())
        return;
    // A name without an ending gets the report's own.
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QSaveFile file(path);
    const QByteArray text = accuracyCsvLines(collector.positions()).join(QLatin1Char('\n')).toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        QMessageBox::warning(dlg, tr("Genauigkeit prüfen"),
                             tr("Der Bericht konnte nicht gespeichert werden:\n%1").arg(QDir::toNativeSeparators(path)));
        return;
    }
    QMessageBox::information(dlg, tr("Genauigkeit prüfen"),
                             tr("Bericht gespeichert:\n%1").arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
}
