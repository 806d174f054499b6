#ifndef SITEWINDOW_H
#define SITEWINDOW_H

#include "calibration.h"
#include "mqttsettings.h"
#include "sitefile.h"
#include "sitemodel.h"
#include "sitesubscriber.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class SiteWindow;
}
class SiteChart;

// "Standortansicht": a window of its own that only listens to a broker and
// shows every kit publishing there on one chart, with the list of kits
// (state, tags, message rate, last message, refused messages) and the zones'
// occupancy beside it. The kits' placements and the floor plan go to and
// come from a site file.
class SiteWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SiteWindow(QWidget* parent = nullptr);
    ~SiteWindow() override;

    // Loads the site file (when given; its warnings are returned, or the one
    // line why it could not be read) and listens to the broker: its host, its
    // port unless 0 (then the site file's, else 1883), the rest of the login
    // from the site file when one is given.
    QStringList start(const MqttSettings& broker, const QString& siteFile);

    SiteModel& siteModel() { return model; }
    SiteSubscriber& subscriber() { return sub; }
    SiteChart* chart() const { return siteChart; }
    // Paints at most this often however many messages come (25 per second).
    static constexpr int MinFrameMs = 40;
    // The positions taken since the window opened.
    quint64 positionsTaken() const { return model.positions(); }

    // File choosers, replaceable so tests need no native dialog: (caption, filter) -> path.
    std::function<QString(const QString&, const QString&)> chooseOpenFile;
    std::function<QString(const QString&, const QString&)> chooseSaveFile;

private slots:
    void on_btnBroker_clicked();
    void on_btnFit_clicked();
    void on_btnLoadSite_clicked();
    void on_btnSaveSite_clicked();
    void on_btnBackground_clicked();
    void on_btnCalibrate_clicked();
    void on_chkDrawGrid_toggled(bool on);
    void on_chkDrawBGImage_toggled(bool on);
    void on_edtRotation_returnPressed();

private:
    void takeMessages();
    void refreshList();
    void showSelected();
    bool loadSite(const QString& path, QStringList* warnings);
    void loadBackground(const QString& path);
    void applyBackground();
    void pointPicked(const QPointF& site);

    Ui::SiteWindow* ui;
    SiteModel model;
    SiteSubscriber sub;
    SiteChart* siteChart = nullptr;
    SiteFileData site;
    QString sitePath;
    QImage background;
    std::unique_ptr<Calibration> calibration;   // while the floor plan is being measured
    QTimer tickTimer;
    QTimer listTimer;
    bool repaintDue = false;
    qint64 lastPaintMs = 0;
    bool fitted = false;
};

#endif
