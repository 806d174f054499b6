#include "calibrationflow.h"

#include "mainwin.h"
#include "ui_mainwin.h"

#include <QImage>
#include <QMessageBox>

namespace {
QString title() { return MainWin::tr("Image anpassen"); }
}

void CalibrationFlow::loadImage(const QString& path)
{
    if (w.bgImage) {
        delete w.bgImage;
        w.bgImage = nullptr;
        w.bgImagePath.clear();
    }
    if (path.isEmpty())
        return;
    w.bgImage = new QImage(path);
    w.bgImagePath = path;
    w.bgImageOffsetX = 0;
    w.bgImageOffsetY = w.bgImage->height();
    w.bgImageFactor = 1.0;
    w.gridDirty = true;
}

void CalibrationFlow::chooseImage()
{
    const QString path = w.fileChoice.open(MainWin::tr("Hintergrundbild wählen"),
                                           MainWin::tr("Bilder (*.bmp *.png *.jpg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    loadImage(path);
    w.ui->chkDrawBGImage->setChecked(w.bgImage != nullptr);
    if (w.bgImage) {
        w.imageGridX = 0;
        w.imageGridY = 0;
        w.imageGridW = w.bgImage->width();
        w.imageGridH = w.bgImage->height();
        w.setGridEdits(0, 0, w.bgImage->width(), w.bgImage->height());
    }
}

void CalibrationFlow::clearImage()
{
    if (w.bgImage) {
        delete w.bgImage;
        w.bgImage = nullptr;
        w.gridDirty = true;
    }
}

void CalibrationFlow::begin()
{
    if (!w.bgImage) {
        QMessageBox::warning(&w, title(), MainWin::tr("Kein Hintergrundbild ausgewählt!"), QMessageBox::Cancel);
        updateButtons();
        return;
    }
    QMessageBox::information(&w, title(), MainWin::tr("Bitte wählen Sie den Ursprung, einen Messpunkt und den Abstand zwischen den Punkten in cm anhand der Buttons rechts daneben!"), QMessageBox::Ok);
    delete w.calibration;
    w.calibration = new Calibration;
    w.ui->edtBGImageDistance->setText(QString());
    *w.calibration = Calibration();
    // The image is shown whole, one pixel a centimetre, while the points are picked.
    w.bgImageOffsetX = 0;
    w.bgImageOffsetY = w.bgImage->height();
    w.bgImageFactor = 1.0;
    w.ui->chkDrawBGImage->setChecked(true);
    w.setGridEdits(0, 0, w.bgImage->width(), w.bgImage->height());
    w.ui->lblChart->setCursor(Qt::CrossCursor);
    w.gridDirty = true;
    updateButtons();
}

void CalibrationFlow::pickOrigin()
{
    if (!w.calibration)
        return;
    QMessageBox::information(&w, title(), MainWin::tr("Bitte klicken Sie im Bild auf die Stelle des gewünschten Koordinatenursprungs (0,0).\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!"), QMessageBox::Ok);
    w.mouseMode = 1;
}

void CalibrationFlow::pickPoint()
{
    if (!w.calibration)
        return;
    QMessageBox::information(&w, title(), MainWin::tr("Sie müssen im Bild einen Zielpunkt selektieren, dessen Abstand (in cm) zum Ursprung angegeben werden muss!\n\nBitte markieren Sie nun diesen Punkt!\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!"), QMessageBox::Ok);
    w.mouseMode = 2;
}

void CalibrationFlow::distanceEdited(const QString& text)
{
    if (!w.calibration)
        return;
    int value = 0;
    w.calibration->distanceSet = parseInt(text, value);
    if (w.calibration->distanceSet)
        w.calibration->distance = value;
}

bool CalibrationFlow::pick(const QPoint& world)
{
    if (!w.calibration)
        return false;
    if (w.mouseMode == 1) {
        w.calibration->originX = world.x();
        w.calibration->originY = world.y();
        w.calibration->originSet = true;
        return true;
    }
    if (w.mouseMode == 2) {
        w.calibration->pointX = world.x();
        w.calibration->pointY = world.y();
        w.calibration->pointSet = true;
        return true;
    }
    return false;
}

void CalibrationFlow::accept()
{
    Calibration* c = w.calibration;
    if (!c) {
        updateButtons();
        return;
    }
    if (!c->originSet) {
        QMessageBox::warning(&w, title(), MainWin::tr("Sie haben noch keinen Koordinatenursprung gewählt!"), QMessageBox::Cancel);
        return;
    }
    if (!c->pointSet) {
        QMessageBox::warning(&w, title(), MainWin::tr("Sie haben noch keinen Messpunkt gewählt!"), QMessageBox::Cancel);
        return;
    }
    if (!c->distanceSet) {
        QMessageBox::warning(&w, title(), MainWin::tr("Sie haben noch keinen Messabstand eingegeben!"), QMessageBox::Cancel);
        return;
    }
    const int previousMode = w.mouseMode;
    w.mouseMode = 3;
    CalibrationResult result;
    const int imageW = w.bgImage ? w.bgImage->width() : 0;
    const int imageH = w.bgImage ? w.bgImage->height() : 0;
    if (!computeCalibration(*c, imageW, imageH, result)) {
        // Two coincident points give no scale; let the user pick again.
        w.mouseMode = previousMode;
        QMessageBox::warning(&w, title(), MainWin::tr("Ursprung und Messpunkt dürfen nicht übereinstimmen!"), QMessageBox::Cancel);
        return;
    }
    w.bgImageFactor = result.factor;
    w.bgImageOffsetX = result.offsetX;
    w.bgImageOffsetY = result.offsetY;
    delete w.calibration;
    w.calibration = nullptr;
    QMessageBox::information(&w, title(), MainWin::tr("Image erfolgreich angepasst"), QMessageBox::Ok);
    w.imageGridX = result.gridX;
    w.imageGridY = result.gridY;
    w.imageGridW = result.gridW;
    w.imageGridH = result.gridH;
    w.setGridEdits(w.imageGridX, w.imageGridY, w.imageGridW, w.imageGridH);
    w.gridDirty = true;
    finish();
}

void CalibrationFlow::cancel()
{
    delete w.calibration;
    w.calibration = nullptr;
    finish();
}

void CalibrationFlow::finish()
{
    w.ui->edtBGImageDistance->setText(QString());
    w.ui->lblChart->setCursor(Qt::ArrowCursor);
    w.mouseMode = 0;
    updateButtons();
}

void CalibrationFlow::updateButtons()
{
    const bool calibrating = w.calibration != nullptr;
    w.ui->btnBGImageOrigin->setEnabled(calibrating);
    w.ui->btnAcceptBGImageCancel->setEnabled(calibrating);
    w.ui->btnAcceptBGImageSetup->setEnabled(calibrating);
    w.ui->btnBGImageDist->setEnabled(calibrating);
    w.ui->edtBGImageDistance->setEnabled(calibrating);
    w.ui->btnBGImageSetup->setEnabled(!calibrating);
}
