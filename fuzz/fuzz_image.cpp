// A background image from arbitrary bytes: loading it, then a chart pass that
// draws it under the grid. The input is the image file; its name has no
// suffix, so the format is taken from the contents.
#include "fuzzsupport.h"

#include "mainwin.h"

#include <QCheckBox>

namespace {

MainWin* w = nullptr;
volatile int sink = 0;

int bucket(int v)
{
    if (v <= 0)
        return 0;
    if (v == 1)
        return 1;
    if (v < 16)
        return 2;
    if (v < 256)
        return 3;
    if (v < 4096)
        return 4;
    return 5;
}

// Qt's decoders carry no coverage instrumentation, so libFuzzer would take
// every picture for the same input and keep none of the variety. These
// branches tell decoded pictures apart by format and size, so inputs that
// reach a new decoder or shape are kept and mutated further.
void notePicture(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_Invalid: sink = 1; break;
    case QImage::Format_Mono: sink = 2; break;
    case QImage::Format_MonoLSB: sink = 3; break;
    case QImage::Format_Indexed8: sink = 4; break;
    case QImage::Format_RGB32: sink = 5; break;
    case QImage::Format_ARGB32: sink = 6; break;
    case QImage::Format_ARGB32_Premultiplied: sink = 7; break;
    case QImage::Format_RGB16: sink = 8; break;
    case QImage::Format_RGB888: sink = 9; break;
    case QImage::Format_Grayscale8: sink = 10; break;
    case QImage::Format_Grayscale16: sink = 11; break;
    case QImage::Format_RGBA64: sink = 12; break;
    case QImage::Format_RGBX8888: sink = 13; break;
    case QImage::Format_RGBA8888: sink = 14; break;
    default: sink = 15; break;
    }
    switch (bucket(image.width()) * 6 + bucket(image.height())) {
    case 0: sink = 20; break;
    case 7: sink = 21; break;
    case 8: sink = 22; break;
    case 9: sink = 23; break;
    case 14: sink = 24; break;
    case 15: sink = 25; break;
    case 16: sink = 26; break;
    case 21: sink = 27; break;
    case 22: sink = 28; break;
    case 28: sink = 29; break;
    default: sink = 30; break;
    }
    if (image.hasAlphaChannel())
        sink = 31;
    switch (bucket(image.colorCount())) {
    case 0: sink = 32; break;
    case 1: sink = 33; break;
    case 2: sink = 34; break;
    case 3: sink = 35; break;
    default: sink = 36; break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initFuzzApplication(argc, argv);
    w = createFuzzWindow();
    w->modules.anchors = fuzzAnchors();
    w->modules.tags = fuzzTags();
    w->findChild<QCheckBox*>(QStringLiteral("chkDrawGrid"))->setChecked(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = writeFuzzFile(QStringLiteral("image"), data, size);
    w->loadBackgroundImage(path);
    notePicture(*w->background.bgImage);
    auto* box = w->findChild<QCheckBox*>(QStringLiteral("chkDrawBGImage"));
    box->setChecked(false);
    box->setChecked(true);
    w->gridDirty = true;
    chartPass(w);
    // Freed before the input ends, so that libFuzzer's leak heuristic (more
    // allocations than frees in one input) does not trigger a scan each time.
    w->loadBackgroundImage(QString());
    settle();
    return 0;
}
