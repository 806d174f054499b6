#ifndef ANCHORSURVEYDIALOG_H
#define ANCHORSURVEYDIALOG_H

#include <QDialog>
#include <QPointF>
#include <QStringList>
#include <QVector>

namespace Ui {
class AnchorSurveyDialog;
}

// "Anker vermessen": which tag is walked, how the scale is pinned, the walk
// while it is collected, and the proposed positions. It only shows and asks;
// the flow behind it collects and solves.
class AnchorSurveyDialog : public QDialog
{
    Q_OBJECT

public:
    enum Scale { KnownDistance, CalibratedOffsets, NoScale };

    explicit AnchorSurveyDialog(QWidget* parent);
    ~AnchorSurveyDialog() override;

    void setTags(const QStringList& ids);
    QString tag() const;
    // The anchors for the known distance; the master and the next anchor chosen.
    void setAnchors(const QStringList& ids, int first, int second);
    Scale scale() const;
    int knownFirst() const;
    int knownSecond() const;
    // The typed distance; false while it is no length above 0.
    bool knownCm(double* cm) const;
    void setHeightText(const QString& text);

    void setCollecting(bool on);
    void setProgress(const QString& text);
    void setPicture(const QVector<QPointF>& anchors, const QStringList& ids, const QVector<QPointF>& walk);
    void setTable(const QStringList& headers, const QVector<QStringList>& rows);
    void setSummary(const QString& residual, const QString& bias, bool biasButton);
    void setWarning(const QString& text);
    void setApplyEnabled(bool on);
    void setBiasEnabled(bool on);

signals:
    void startRequested();
    void stopRequested();
    void cancelRequested();
    void applyRequested();
    void applyBiasRequested();

private slots:
    void on_btnStart_clicked() { emit startRequested(); }
    void on_btnStop_clicked() { emit stopRequested(); }
    void on_btnCancel_clicked() { emit cancelRequested(); }
    void on_btnApply_clicked() { emit applyRequested(); }
    void on_btnApplyBias_clicked() { emit applyBiasRequested(); }
    void on_btnClose_clicked() { close(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Ui::AnchorSurveyDialog* ui;
};

#endif
