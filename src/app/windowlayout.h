#ifndef WINDOWLAYOUT_H
#define WINDOWLAYOUT_H

#include <QObject>

class QMainWindow;
class QScrollArea;
class QSplitter;

// Keeps the main window usable at every size and as the user left it: the
// panel in its scroll area never narrower than its widest row, the window
// never smaller than what it holds, and the window's geometry and the
// splitter remembered in the user's configuration. The first time the
// window covers most of the screen and the panel is as wide as its tables,
// but no more than half the window. Owned by the window.
class WindowLayout : public QObject
{
    Q_OBJECT
public:
    WindowLayout(QMainWindow* window, QSplitter* splitter, QScrollArea* panel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateMinimumSizes();
    void placeSplitter();
    void save();

    QMainWindow* window;
    QSplitter* splitter;
    QScrollArea* panel;
    bool placed = false;
};

#endif
