#ifndef LINKQUALITYDIALOG_H
#define LINKQUALITYDIALOG_H

#include "linkquality.h"

#include <QDialog>
#include <QVector>

#include <functional>

namespace Ui { class LinkQualityDialog; }
class ModuleSetup;
class QTimer;

// The "Verbindungsqualität" window: the link figures per tag and anchor as a
// table, coloured from good to bad, refreshed once a second while it is
// open. It stays open beside the main window (not modal).
class LinkQualityDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 1000;

    LinkQualityDialog(const ModuleSetup* modules, QWidget* parent);
    ~LinkQualityDialog() override;

    // Where the figures come from; asked at every refresh.
    std::function<QVector<LinkQuality::TagFigures>()> figures;

    // Refills the table from figures().
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Ui::LinkQualityDialog* ui;
    const ModuleSetup* modules;
    QTimer* timer;
};

#endif
