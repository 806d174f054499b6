#ifndef KNOWNPOINTDIALOG_H
#define KNOWNPOINTDIALOG_H

#include <QDialog>
#include <QPair>
#include <QPointF>
#include <QStringList>
#include <QVector>

namespace Ui {
class KnownPointDialog;
}

// The dialog of "Offsets einmessen" and "Genauigkeit prüfen": a tag and the
// point it stands at (typed, or picked on the chart), how long to collect,
// progress, and the table of what the collection gave. It only shows and
// asks; the flow behind it collects and computes.
class KnownPointDialog : public QDialog
{
    Q_OBJECT

public:
    KnownPointDialog(const QString& title, const QString& applyText, QWidget* parent);
    ~KnownPointDialog() override;

    // The tags to choose from, as (id, name); none is chosen unless the
    // earlier choice is among them.
    void setTags(const QVector<QPair<QString, QString>>& tags);
    // The chosen tag's id; empty while none is chosen.
    QString tag() const;
    // The typed point; false while X or Y is no number.
    bool point(QPointF* at) const;
    void setPoint(const QPoint& at);
    void setHeightText(const QString& text);
    int durationSeconds() const;
    void setDurationSeconds(int s);
    bool picking() const;
    void setPicking(bool on);

    void setCollecting(bool on);
    void setProgress(int percent, const QString& text);
    // The result table: headers, rows of cells, and which rows to mark.
    void setTable(const QStringList& headers, const QVector<QStringList>& rows, const QVector<bool>& marked);
    // Tool tips of the result table's columns, and a short legend below it.
    void setColumnToolTips(const QStringList& tips);
    void setLegend(const QString& text);
    void setWarning(const QString& text);
    void setApplyEnabled(bool on);
    // "trotzdem übernehmen" beside the warning: offered (shown, unticked) or not.
    void offerApplyAnyway(bool offer);
    bool applyAnyway() const;

signals:
    void startRequested();
    void cancelRequested();
    void applyRequested();
    void resetRequested();
    void pickToggled(bool on);
    void applyAnywayToggled(bool on);

private slots:
    void on_btnStart_clicked() { emit startRequested(); }
    void on_btnCancel_clicked() { emit cancelRequested(); }
    void on_btnApply_clicked() { emit applyRequested(); }
    void on_btnReset_clicked() { emit resetRequested(); }
    void on_btnClose_clicked() { close(); }
    void on_btnPickPoint_toggled(bool on);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Ui::KnownPointDialog* ui;
    QStringList columnTips;
    QString beforePicking;   // the progress text the picking hint stands in for
    class QLabel* legend = nullptr;
};

#endif
