#include "linkqualitydialog.h"
#include "ui_linkqualitydialog.h"

#include "modulesetup.h"

#include <QHeaderView>
#include <QTableWidgetItem>
#include <QTimer>

namespace {

enum LinkColumn { ColTag, ColAnchor, ColLines, ColMissing, ColLeftOut, ColSpread, ColLast, ColUpdate, ColSilence, Columns };

QColor gradeColor(LinkQuality::Grade g)
{
    switch (g) {
    case LinkQuality::Good: return QColor(200, 240, 200);
    case LinkQuality::Fair: return QColor(255, 236, 160);
    case LinkQuality::Bad: break;
    }
    return QColor(255, 190, 190);
}

QString percent(double share)
{
    return QString::number(100.0 * share, 'f', 1) + QStringLiteral(" %");
}

} // namespace

LinkQualityDialog::LinkQualityDialog(const ModuleSetup* modules, QWidget* parent)
    : QDialog(parent), ui(new Ui::LinkQualityDialog), modules(modules), timer(new QTimer(this))
{
    ui->setupUi(this);
    setModal(false);
    QTableWidget* t = ui->tblLinkQuality;
    t->setColumnCount(Columns);
    t->setHorizontalHeaderLabels({tr("Tag"), tr("Anker"), tr("Zeilen/s"), tr("Fehlend"), tr("Ausgelassen"),
                                  tr("Streuung"), tr("Letzter Abstand"), tr("Positionen/s"), tr("Seit letzter Zeile")});
    const QStringList tips = {
        QString(), QString(), tr("Ranging-Zeilen pro Sekunde (je Anker: mit einem Abstand zu ihm)"),
        tr("Anteil der Zeilen ohne Abstand zu diesem Anker\ngut ≤ 5 %, mäßig ≤ 20 %, schlecht darüber"),
        tr("Anteil der empfangenen Abstände, den Filter oder Ausreißerprüfung ausließen\ngut ≤ 2 %, mäßig ≤ 10 %, schlecht darüber"),
        tr("Standardabweichung des Abstands zur gezeigten Position\ngut ≤ 10 cm, mäßig ≤ 30 cm, schlecht darüber"),
        tr("Zuletzt empfangener Abstand"), tr("Positionen pro Sekunde (Zeilen mit mindestens drei Abständen)"),
        tr("Zeit seit der letzten Zeile des Tags\ngut ≤ 1 s, mäßig ≤ 3 s, schlecht darüber")};
    for (int c = 0; c < Columns; ++c)
        t->horizontalHeaderItem(c)->setToolTip(tips.at(c));
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    timer->setInterval(RefreshMs);
    connect(timer, &QTimer::timeout, this, &LinkQualityDialog::refresh);
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
}

LinkQualityDialog::~LinkQualityDialog()
{
    delete ui;
}

void LinkQualityDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    refresh();
    timer->start();
}

void LinkQualityDialog::hideEvent(QHideEvent* event)
{
    timer->stop();   // nothing to compute while nobody looks
    QDialog::hideEvent(event);
}

void LinkQualityDialog::refresh()
{
    const QVector<LinkQuality::TagFigures> all = figures ? figures() : QVector<LinkQuality::TagFigures>();
    QTableWidget* t = ui->tblLinkQuality;
    int rows = 0;
    for (const LinkQuality::TagFigures& f : all)
        rows += 1 + f.anchors.size();
    t->setRowCount(rows);
    const QStringList tips = [t] {
        QStringList l;
        for (int c = 0; c < Columns; ++c)
            l << t->horizontalHeaderItem(c)->toolTip();
        return l;
    }();
    int row = 0;
    auto cell = [&](int column, const QString& text, const QColor& color = QColor()) {
        auto* item = new QTableWidgetItem(text);
        if (column >= ColLines)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (color.isValid()) {
            item->setBackground(color);
            item->setForeground(Qt::black);
            item->setToolTip(tips.at(column));
        }
        t->setItem(row, column, item);
    };
    for (const LinkQuality::TagFigures& f : all) {
        const int tagIndex = modules ? modules->findTag(f.key) : -1;
        const QString tagName = tagIndex >= 0 ? modules->tags.at(tagIndex).name : f.key;
        for (int c = 0; c < Columns; ++c)
            cell(c, QString());
        cell(ColTag, tagName);
        cell(ColAnchor, tr("alle"));
        cell(ColLines, QString::number(f.linesPerSecond, 'f', 1));
        cell(ColUpdate, QString::number(f.updateRate, 'f', 1));
        cell(ColSilence, QString::number(f.sinceLastMs / 1000.0, 'f', 1) + tr(" s"),
             gradeColor(LinkQuality::silenceGrade(f.sinceLastMs)));
        ++row;
        for (int a = 0; a < f.anchors.size(); ++a, ++row) {
            const LinkQuality::AnchorFigures& af = f.anchors.at(a);
            for (int c = 0; c < Columns; ++c)
                cell(c, QString());
            cell(ColTag, tagName);
            cell(ColAnchor, modules && a < modules->anchors.size() ? modules->anchors.at(a).name : QString::number(a + 1));
            cell(ColLines, QString::number(af.linesPerSecond, 'f', 1));
            cell(ColMissing, percent(af.missingShare), gradeColor(LinkQuality::missingGrade(af.missingShare)));
            cell(ColLeftOut, percent(af.leftOutShare), gradeColor(LinkQuality::leftOutGrade(af.leftOutShare)));
            if (af.spread >= 0)
                cell(ColSpread, QString::number(af.spread, 'f', 1) + tr(" cm"), gradeColor(LinkQuality::spreadGrade(af.spread)));
            cell(ColLast, af.lastDistance > 0 ? QString::number(af.lastDistance) + tr(" cm") : QString());
        }
    }
}
