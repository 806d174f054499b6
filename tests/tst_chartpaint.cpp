// The cheaper ways the chart is painted must give the pixels and sizes that
// the plain ways give.
#include "chartdrawing.h"
#include "textwidths.h"

#include <QtTest>

class TestChartPaint : public QObject
{
    Q_OBJECT
private slots:
    void strokesSamePixels_data();
    void strokesSamePixels();
    void labelWidths();
};

void TestChartPaint::strokesSamePixels_data()
{
    QTest::addColumn<int>("format");   // QImage::Format of the frame
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<bool>("antialiased");
    const QColor opaque(34, 153, 255), translucent(0, 160, 0, 120), seeThrough(255, 0, 0, 60);
    QTest::newRow("opaque frame") << int(QImage::Format_RGB32) << QColor(Qt::white) << opaque << false;
    QTest::newRow("translucent colour") << int(QImage::Format_RGB32) << QColor(Qt::white) << translucent << false;
    QTest::newRow("antialiased") << int(QImage::Format_RGB32) << QColor(Qt::white) << opaque << true;
    QTest::newRow("transparent frame") << int(QImage::Format_ARGB32_Premultiplied) << QColor(Qt::transparent) << opaque << false;
    QTest::newRow("see-through frame") << int(QImage::Format_ARGB32) << seeThrough << opaque << false;
}

void TestChartPaint::strokesSamePixels()
{
    // Distance circles over a grid layer, against a plain painter's.
    QFETCH(int, format);
    QFETCH(QColor, fill);
    QFETCH(QColor, color);
    QFETCH(bool, antialiased);
    ChartGeometry g;
    QVERIFY(computeChartGeometry(-500, -500, 1000, 1000, 700, 500, g));
    ChartPens pens;
    pens.applyScale(g.cmPerPixel);
    QImage plain(g.pixmapW, g.pixmapH, QImage::Format(format));
    plain.fill(fill);
    {
        QPainter p(&plain);
        p.drawImage(0, 0, renderGridLayer(g, true, nullptr, 0, 0, 1).toImage());
    }
    QImage chart = plain;
    const Anchor a("1", "A", Qt::black, 120, -80, 0, false, 0);
    for (QImage* img : {&plain, &chart}) {
        QPainter p(img);
        p.setWindow(0, 0, g.gridW, g.gridH);
        p.setRenderHint(QPainter::Antialiasing, antialiased);
        for (int r : {35, 160, 333, 900}) {
            QPen& pen = r % 2 ? pens.rawCirclePen : pens.avgCirclePen;
            if (img == &chart) {
                drawDistanceCircle(&p, g, pen, a, r, color);
                QCOMPARE(p.compositionMode(), QPainter::CompositionMode_SourceOver);
            } else {
                pen.setColor(color);
                p.setPen(pen);
                p.drawEllipse(QRectF(g.originX + a.x - r, g.originY - a.y - r, 2 * r, 2 * r));
            }
        }
    }
    QVERIFY(plain != QImage(plain.size(), plain.format()));
    QVERIFY(chart == plain);
}

void TestChartPaint::labelWidths()
{
    // Remembered widths stay those of the font asked for, past every bound.
    TextWidths widths;
    QList<QFont> fonts;
    for (int px : {10, 13, 20, 27, 40, 61}) {
        fonts << QFont();
        fonts.last().setPixelSize(px);
    }
    QVERIFY(fonts.size() > TextWidths::MaxFonts);
    // The same texts in a scrambled order of fonts, then more texts in one font than are kept.
    for (int i = 0; i < 1500; ++i) {
        const QFont& f = fonts.at((i * 7 + i / 13) % fonts.size());
        const QString text = QString("Tag%1 [X: %2 cm]").arg(i % 5).arg((i * 31) % 8);
        QCOMPARE(widths.width(f, text), QFontMetricsF(f).horizontalAdvance(text));
    }
    for (int i = 0; i < 2 * TextWidths::MaxTexts + 40; ++i) {
        const QString text = QString::number(i % (TextWidths::MaxTexts + 20)) + " cm";
        QCOMPARE(widths.width(fonts.at(i % 2), text), QFontMetricsF(fonts.at(i % 2)).horizontalAdvance(text));
    }
}

QTEST_MAIN(TestChartPaint)
#include "tst_chartpaint.moc"
