#ifndef WINDOWLAYOUT_H
#define WINDOWLAYOUT_H

#include <QByteArray>
#include <QList>
#include <QObject>

class QAction;
class QMainWindow;
class QScrollArea;
class QSplitter;
class QToolButton;
class QWidget;

// Keeps the main window usable at every size and as the user left it: the
// panel in its scroll area never narrower than its widest row, the window
// never smaller than what it holds (with room for the chart), and the
// window's geometry, the splitter and whether the panel is shown remembered
// in the user's configuration. The first time the window covers most of the
// screen and the panel is as narrow as its rows allow. The panel can be put
// away (F9) and the window can show the chart alone, full screen (F11).
// Owned by the window.
class WindowLayout : public QObject
{
    Q_OBJECT
public:
    // extras: what the presentation view hides besides the panel.
    WindowLayout(QMainWindow* window, QSplitter* splitter, QScrollArea* panel, QToolButton* panelButton,
                 const QList<QWidget*>& extras);

    bool isPanelShown() const;
    void setPanelShown(bool shown);
    bool isPresenting() const { return presenting; }
    void setPresenting(bool on);

    QAction* panelAction = nullptr;          // F9
    QAction* presentationAction = nullptr;   // F11, Escape leaves

signals:
    void presentationChanged(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateMinimumSizes();
    void placeSplitter();
    void save();
    void updatePanelButton();

    QMainWindow* window;
    QSplitter* splitter;
    QScrollArea* panel;
    QToolButton* panelButton;
    QList<QWidget*> extras;
    QAction* leaveAction = nullptr;
    bool placed = false;
    bool presenting = false;
    bool panelBeforePresenting = true;
    bool maximizedBeforePresenting = false;
    QByteArray geometryBeforePresenting;
};

#endif
