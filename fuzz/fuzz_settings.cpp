// Loading a settings file through the main window's own load slot, then a
// chart pass with whatever the file set up. The input is the file.
#include "fuzzsupport.h"

#include "mainwin.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QTableWidget>

namespace {

MainWin* w = nullptr;
QString path;

void reset()
{
    // Each input starts from the window's initial chart settings, so a file
    // that fails to load cannot inherit what the previous one set.
    w->modules.anchors = fuzzAnchors();
    w->modules.tags = fuzzTags();
    if (w->findChild<QTableWidget*>(QStringLiteral("tblAnker"))->rowCount() != w->modules.anchors.size()
        || w->findChild<QTableWidget*>(QStringLiteral("tblTags"))->rowCount() != w->modules.tags.size()) {
        w->fillAnchorTable();
        w->fillTagTable();
    }
    w->loadBackgroundImage(QString());
    w->background.bgImageFactor = 1.0;
    w->background.bgImageOffsetX = 0;
    w->background.bgImageOffsetY = 0;
    w->background.imageGridX = -500;
    w->background.imageGridY = -500;
    w->background.imageGridW = 1000;
    w->background.imageGridH = 1000;
    const struct { const char* name; const char* text; } edits[] = {
        {"edtGridX", "-500"}, {"edtGridY", "-500"}, {"edtGridW", "1000"}, {"edtGridH", "1000"}};
    for (const auto& e : edits)
        w->findChild<QLineEdit*>(QLatin1String(e.name))->setText(QLatin1String(e.text));
    w->findChild<QCheckBox*>(QStringLiteral("chkDrawGrid"))->setChecked(true);
    w->findChild<QCheckBox*>(QStringLiteral("chkDrawBGImage"))->setChecked(false);
    w->gridDirty = true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initFuzzApplication(argc, argv);
    w = createFuzzWindow();
    w->setFileChoosers([](const QString&, const QString&) { return path; }, nullptr);
    reset();
    w->fillAnchorTable();
    w->fillTagTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    path = writeFuzzFile(QStringLiteral("settings.cfg"), data, size);
    // The slot ends with a reminder box, which the modal closer answers.
    QMetaObject::invokeMethod(w, "on_btnLoadSettings_clicked");
    chartPass(w);
    // Back to the start state before the input ends, which also keeps
    // libFuzzer's leak heuristic from scanning after every input.
    reset();
    settle();
    return 0;
}
