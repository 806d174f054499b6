#ifndef VIEWPANEL_H
#define VIEWPANEL_H

#include <QWidget>

namespace Ui { class ViewPanel; }

// What part of the world the chart shows and what it draws under the
// modules: the grid coordinates, fitting and resetting them, the grid and
// background switches, the coverage shading with its range limit, and the lock that keeps anchors from being dragged.
class ViewPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ViewPanel(QWidget* parent = nullptr);
    ~ViewPanel() override;

    // False while one of the four edits does not hold a number.
    bool gridRect(int& x, int& y, int& w, int& h) const;
    void setGridRect(int x, int y, int w, int h);
    // As typed, for the settings file.
    QStringList gridTexts() const;   // x, y, w, h
    void setGridTexts(const QStringList& xywh);

    bool drawsGrid() const;
    void setDrawsGrid(bool on);
    bool drawsBackground() const;
    void setDrawsBackground(bool on);
    bool showsCoverage() const;
    void setShowsCoverage(bool on);
    // cm an anchor reaches for the coverage shading; 0 while the field is empty (no limit).
    int rangeLimit() const;
    QString rangeLimitText() const;
    void setRangeLimitText(const QString& text);
    bool anchorsLocked() const;
    void setAnchorsLocked(bool on);

signals:
    // Any of the grid edits or drawing switches.
    void viewEdited();
    void fitRequested();
    void resetRequested();

private:
    Ui::ViewPanel* ui;
};

#endif
