#ifndef PANELSECTION_H
#define PANELSECTION_H

#include <QWidget>

class QToolButton;

// One part of the side panel under a header that folds it away; the fold
// is remembered per title.
class PanelSection : public QWidget
{
    Q_OBJECT
public:
    PanelSection(const QString& title, QWidget* body, QWidget* parent = nullptr);

    bool isExpanded() const;
    void setExpanded(bool expanded);

private:
    QToolButton* header;
    QWidget* body;
};

#endif
