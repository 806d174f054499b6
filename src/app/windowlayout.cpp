#include "windowlayout.h"
#include "utf8settings.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>

static const char* const GeometryKey = "MainWin/geometry";
static const char* const SplitterKey = "MainWin/splitter";

WindowLayout::WindowLayout(QMainWindow* window, QSplitter* splitter, QScrollArea* panel)
    : QObject(window), window(window), splitter(splitter), panel(panel)
{
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    // The panel's rows settle their widths only once shown, and change again
    // when a row does, so the limits follow its layout.
    panel->widget()->installEventFilter(this);
    window->installEventFilter(this);
    updateMinimumSizes();

    if (!window->restoreGeometry(Utf8Settings().value(GeometryKey).toByteArray())) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        window->resize((avail.size() * 0.9).expandedTo(window->minimumSize()));
        window->move(avail.center() - window->rect().center());
    }
}

bool WindowLayout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == panel->widget() && event->type() == QEvent::LayoutRequest)
        updateMinimumSizes();
    else if (watched == window && event->type() == QEvent::Show)
        placeSplitter();
    else if (watched == window && event->type() == QEvent::Close)
        save();
    return QObject::eventFilter(watched, event);
}

void WindowLayout::updateMinimumSizes()
{
    const int scrollBar = panel->verticalScrollBar()->sizeHint().width();
    panel->setMinimumWidth(panel->widget()->minimumSizeHint().width() + scrollBar);
    const QSize held = window->centralWidget()->minimumSizeHint()
                       + QSize(0, window->statusBar()->sizeHint().height());
    window->setMinimumSize(held.expandedTo(QSize(0, 600)));
}

void WindowLayout::placeSplitter()
{
    if (placed)
        return;
    placed = true;
    if (splitter->restoreState(Utf8Settings().value(SplitterKey).toByteArray()))
        return;
    const int scrollBar = panel->verticalScrollBar()->sizeHint().width();
    const int width = window->width();
    const int wanted = qMax(panel->minimumWidth(), qMin(panel->widget()->sizeHint().width() + scrollBar, width / 2));
    splitter->setSizes({wanted, qMax(width - wanted, 1)});
}

void WindowLayout::save()
{
    Utf8Settings prefs;
    prefs.setValue(GeometryKey, window->saveGeometry());
    prefs.setValue(SplitterKey, splitter->saveState());
}
