// A background image from arbitrary bytes: loading it, then a chart pass that
// draws it under the grid. The input is the image file; its name has no
// suffix, so the format is taken from the contents.
#include "fuzzsupport.h"

#include "mainwin.h"

#include <QCheckBox>

namespace {
MainWin* w = nullptr;
}

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
    auto* box = w->findChild<QCheckBox*>(QStringLiteral("chkDrawBGImage"));
    box->setChecked(false);
    box->setChecked(true);
    w->gridDirty = true;
    chartPass(w);
    settle();
    return 0;
}
