#include "windowlayout.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include "utf8settings.h"
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>

static const char* const GeometryKey = "MainWin/geometry";
static const char* const SplitterKey = "MainWin/splitter";
static const char* const PanelKey = "MainWin/panelShown";
// The chart keeps at least this width beside the panel, so that it has
// about half the window even at the smallest size.
static const int ChartMinWidth = 620;

WindowLayout::WindowLayout(QMainWindow* window, QSplitter* splitter, QScrollArea* panel, QToolButton* panelButton,
                           const QList<QWidget*>& extras)
    : QObject(window), window(window), splitter(splitter), panel(panel), panelButton(panelButton), extras(extras)
{
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    // A handle one can see and grab.
    splitter->setHandleWidth(6);
    splitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: palette(mid); margin: 0 2px; }"));
    // The panel's rows settle their widths only once shown, and change again
    // when a row does, so the limits follow its layout.
    panel->widget()->installEventFilter(this);
    window->installEventFilter(this);

    panelAction = new QAction(tr("Seitenleiste ein/aus"), window);
    panelAction->setShortcut(Qt::Key_F9);
    panelAction->setCheckable(true);
    connect(panelAction, &QAction::triggered, this, [this](bool on) { setPanelShown(on); });
    window->addAction(panelAction);
    connect(panelButton, &QToolButton::clicked, this, [this] { setPanelShown(!isPanelShown()); });

    presentationAction = new QAction(tr("Präsentationsansicht"), window);
    presentationAction->setShortcut(Qt::Key_F11);
    presentationAction->setCheckable(true);
    connect(presentationAction, &QAction::triggered, this, [this](bool on) { setPresenting(on); });
    window->addAction(presentationAction);
    leaveAction = new QAction(window);
    leaveAction->setShortcut(Qt::Key_Escape);
    leaveAction->setEnabled(false);
    connect(leaveAction, &QAction::triggered, this, [this] { setPresenting(false); });
    window->addAction(leaveAction);

    panel->setVisible(Utf8Settings().value(PanelKey, true).toBool());
    updatePanelButton();
    updateMinimumSizes();

    if (!window->restoreGeometry(Utf8Settings().value(GeometryKey).toByteArray())) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        window->resize((avail.size() * 0.9).expandedTo(window->minimumSize()));
        window->move(avail.center() - window->rect().center());
    }
}

bool WindowLayout::isPanelShown() const { return !panel->isHidden(); }

void WindowLayout::setPanelShown(bool shown)
{
    if (presenting)
        setPresenting(false);
    // The splitter keeps the panel's width while it is away.
    panel->setVisible(shown);
    Utf8Settings().setValue(PanelKey, shown);
    updatePanelButton();
    updateMinimumSizes();
}

void WindowLayout::updatePanelButton()
{
    const bool shown = isPanelShown();
    panelButton->setArrowType(shown ? Qt::LeftArrow : Qt::RightArrow);
    panelAction->setChecked(shown);
}

void WindowLayout::setPresenting(bool on)
{
    if (on == presenting)
        return;
    presenting = on;
    if (on) {
        panelBeforePresenting = isPanelShown();
        maximizedBeforePresenting = window->isMaximized();
        geometryBeforePresenting = window->saveGeometry();
        panel->hide();
        panelButton->hide();
        for (QWidget* w : qAsConst(extras))
            w->hide();
        window->showFullScreen();
    } else {
        panel->setVisible(panelBeforePresenting);
        panelButton->show();
        for (QWidget* w : qAsConst(extras))
            w->show();
        // The minimum size follows the panel; the window then returns as it
        // was, not at whatever size the platform makes of leaving full screen.
        updateMinimumSizes();
        if (maximizedBeforePresenting)
            window->showMaximized();
        else
            window->showNormal();
        window->restoreGeometry(geometryBeforePresenting);
    }
    leaveAction->setEnabled(on);
    presentationAction->setChecked(on);
    updateMinimumSizes();
    emit presentationChanged(on);
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
    const int statusBar = window->statusBar()->sizeHint().height();
    QSize held = window->centralWidget()->minimumSizeHint() + QSize(0, statusBar);
    if (isPanelShown()) {
        held.setWidth(qMax(held.width(), panel->minimumWidth() + splitter->handleWidth() + ChartMinWidth));
        // The whole panel in view, without scrolling, at the smallest size too.
        const int below = window->centralWidget()->height() - splitter->height();
        held.setHeight(qMax(held.height(), panel->widget()->minimumSizeHint().height() + qMax(below, 0) + statusBar));
    }
    window->setMinimumSize(held.expandedTo(QSize(0, 600)));
}

void WindowLayout::placeSplitter()
{
    if (placed)
        return;
    placed = true;
    if (splitter->restoreState(Utf8Settings().value(SplitterKey).toByteArray()))
        return;
    // The chart gets all the room the panel's rows do not need. The splitter
    // shares out sizes that do not add up to its width, so it is measured
    // with the window's layout in place.
    if (window->centralWidget()->layout())
        window->centralWidget()->layout()->activate();
    const int width = splitter->width();
    const int wanted = panel->minimumWidth();
    splitter->setSizes({wanted, qMax(width - wanted, 1)});
}

void WindowLayout::save()
{
    // The presentation view is not a state to come back to.
    if (presenting)
        setPresenting(false);
    Utf8Settings prefs;
    prefs.setValue(GeometryKey, window->saveGeometry());
    prefs.setValue(SplitterKey, splitter->saveState());
}
