#ifndef TOOLSPANEL_H
#define TOOLSPANEL_H

#include <QWidget>

namespace Ui { class ToolsPanel; }

// How positions are computed (averaging depth, filter, tag height), the
// floor plan behind the chart and its calibration, offsets and accuracy at a
// known point, the anchors' survey by a walked tag, the settings file, the MQTT output and the links' quality.
class ToolsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ToolsPanel(QWidget* parent = nullptr);
    ~ToolsPanel() override;

    QString averageText() const;
    void setAverageText(const QString& text);
    int filterIndex() const;
    void setFilterIndex(int index);
    QString tagHeightText() const;
    void setTagHeightText(const QString& text);
    // How far back the tags' trails reach (s, 0 to 120; 0: no trails).
    int trailSeconds() const;
    void setTrailSeconds(int seconds);
    // The calibration buttons: only "Bild einmessen" while none is under way, the rest during one.
    void setCalibrating(bool calibrating);
    void clearDistance();

signals:
    void averageChosen(int index);
    void filterChosen(int index);
    void tagHeightEdited(const QString& text);
    void trailSecondsChosen(int seconds);
    void selectBackgroundRequested();
    void clearBackgroundRequested();
    void calibrationRequested();
    void originRequested();
    void pointRequested();
    void distanceEdited(const QString& text);
    void calibrationAccepted();
    void calibrationCancelled();
    void loadSettingsRequested();
    void saveSettingsRequested();
    void mqttRequested();
    void calibrateOffsetsRequested();
    void checkAccuracyRequested();
    void surveyAnchorsRequested();
    void linkQualityRequested();
    void siteViewRequested();

private:
    Ui::ToolsPanel* ui;
};

#endif
