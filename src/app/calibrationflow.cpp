#include "calibrationflow.h"

#include "chartbackground.h"
#include "parseint.h"
#include "toolspanel.h"
#include "viewpanel.h"

#include <QImage>
#include <QMessageBox>

namespace {
QString title() { return CalibrationFlow::tr("Image anpassen"); }
}

CalibrationFlow::CalibrationFlow(QWidget* window, ChartBackground& background, ToolsPanel* tools, ViewPanel* view,
                                 QWidget* chartLabel, const FileChoice& files)
    : QObject(window), window(window), bg(background), tools(tools), view(view), chartLabel(chartLabel), files(files)
{
}

void CalibrationFlow::loadImage(const QString& path)
{
    if (bg.bgImage) {
        delete bg.bgImage;
        bg.bgImage = nullptr;
        bg.bgImagePath.clear();
    }
    if (path.isEmpty())
        return;
    bg.bgImage = new QImage(path);
    bg.bgImagePath = path;
    bg.bgImageOffsetX = 0;
    bg.bgImageOffsetY = bg.bgImage->height();
    bg.bgImageFactor = 1.0;
    emit backgroundChanged();
}

void CalibrationFlow::chooseImage()
{
    const QString path = files.open(tr("Hintergrundbild wählen"),
                                           tr("Bilder (*.bmp *.png *.jpg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    loadImage(path);
    view->setDrawsBackground(bg.bgImage != nullptr);
    if (bg.bgImage) {
        bg.imageGridX = 0;
        bg.imageGridY = 0;
        bg.imageGridW = bg.bgImage->width();
        bg.imageGridH = bg.bgImage->height();
        view->setGridRect(0, 0, bg.bgImage->width(), bg.bgImage->height());
    }
}

void CalibrationFlow::clearImage()
{
    if (bg.bgImage) {
        delete bg.bgImage;
        bg.bgImage = nullptr;
        emit backgroundChanged();
    }
}

void CalibrationFlow::begin()
{
    if (!bg.bgImage) {
        QMessageBox::warning(window, title(), tr("Kein Hintergrundbild ausgewählt!"), QMessageBox::Cancel);
        updateButtons();
        return;
    }
    QMessageBox::information(window, title(), tr("Bitte wählen Sie den Ursprung, einen Messpunkt und den Abstand zwischen den Punkten in cm anhand der Buttons rechts daneben!"), QMessageBox::Ok);
    delete bg.calibration;
    bg.calibration = new Calibration;
    tools->clearDistance();
    *bg.calibration = Calibration();
    // The image is shown whole, one pixel a centimetre, while the points are picked.
    bg.bgImageOffsetX = 0;
    bg.bgImageOffsetY = bg.bgImage->height();
    bg.bgImageFactor = 1.0;
    view->setDrawsBackground(true);
    view->setGridRect(0, 0, bg.bgImage->width(), bg.bgImage->height());
    chartLabel->setCursor(Qt::CrossCursor);
    emit backgroundChanged();
    updateButtons();
}

void CalibrationFlow::pickOrigin()
{
    if (!bg.calibration)
        return;
    QMessageBox::information(window, title(), tr("Bitte klicken Sie im Bild auf die Stelle des gewünschten Koordinatenursprungs (0,0).\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!"), QMessageBox::Ok);
    bg.mouseMode = 1;
}

void CalibrationFlow::pickPoint()
{
    if (!bg.calibration)
        return;
    QMessageBox::information(window, title(), tr("Sie müssen im Bild einen Zielpunkt selektieren, dessen Abstand (in cm) zum Ursprung angegeben werden muss!\n\nBitte markieren Sie nun diesen Punkt!\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!"), QMessageBox::Ok);
    bg.mouseMode = 2;
}

void CalibrationFlow::distanceEdited(const QString& text)
{
    if (!bg.calibration)
        return;
    int value = 0;
    bg.calibration->distanceSet = parseInt(text, value);
    if (bg.calibration->distanceSet)
        bg.calibration->distance = value;
}

bool CalibrationFlow::pick(const QPoint& world)
{
    if (!bg.calibration)
        return false;
    if (bg.mouseMode == 1) {
        bg.calibration->originX = world.x();
        bg.calibration->originY = world.y();
        bg.calibration->originSet = true;
        return true;
    }
    if (bg.mouseMode == 2) {
        bg.calibration->pointX = world.x();
        bg.calibration->pointY = world.y();
        bg.calibration->pointSet = true;
        return true;
    }
    return false;
}

void CalibrationFlow::accept()
{
    Calibration* c = bg.calibration;
    if (!c) {
        updateButtons();
        return;
    }
    if (!c->originSet) {
        QMessageBox::warning(window, title(), tr("Sie haben noch keinen Koordinatenursprung gewählt!"), QMessageBox::Cancel);
        return;
    }
    if (!c->pointSet) {
        QMessageBox::warning(window, title(), tr("Sie haben noch keinen Messpunkt gewählt!"), QMessageBox::Cancel);
        return;
    }
    if (!c->distanceSet) {
        QMessageBox::warning(window, title(), tr("Sie haben noch keinen Messabstand eingegeben!"), QMessageBox::Cancel);
        return;
    }
    const int previousMode = bg.mouseMode;
    bg.mouseMode = 3;
    CalibrationResult result;
    const int imageW = bg.bgImage ? bg.bgImage->width() : 0;
    const int imageH = bg.bgImage ? bg.bgImage->height() : 0;
    if (!computeCalibration(*c, imageW, imageH, result)) {
        // Two coincident points give no scale; let the user pick again.
        bg.mouseMode = previousMode;
        QMessageBox::warning(window, title(), tr("Ursprung und Messpunkt dürfen nicht übereinstimmen!"), QMessageBox::Cancel);
        return;
    }
    bg.bgImageFactor = result.factor;
    bg.bgImageOffsetX = result.offsetX;
    bg.bgImageOffsetY = result.offsetY;
    delete bg.calibration;
    bg.calibration = nullptr;
    QMessageBox::information(window, title(), tr("Image erfolgreich angepasst"), QMessageBox::Ok);
    bg.imageGridX = result.gridX;
    bg.imageGridY = result.gridY;
    bg.imageGridW = result.gridW;
    bg.imageGridH = result.gridH;
    view->setGridRect(bg.imageGridX, bg.imageGridY, bg.imageGridW, bg.imageGridH);
    emit backgroundChanged();
    finish();
}

void CalibrationFlow::cancel()
{
    delete bg.calibration;
    bg.calibration = nullptr;
    finish();
}

void CalibrationFlow::finish()
{
    tools->clearDistance();
    chartLabel->setCursor(Qt::ArrowCursor);
    bg.mouseMode = 0;
    updateButtons();
}

void CalibrationFlow::updateButtons()
{
    tools->setCalibrating(bg.calibration != nullptr);
}
