#include "modulespanel.h"
#include "ui_modulespanel.h"

#include "moduletables.h"
#include "qflatcombobox.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QHeaderView>

ModulesPanel::ModulesPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::ModulesPanel)
{
    ui->setupUi(this);
    connect(ui->btnDiscovery, &QPushButton::clicked, this, &ModulesPanel::discoveryRequested);
    ui->btnDiscovery->setEnabled(false);
    ModuleTables::setUpColumns(ui->tblAnker, ui->tblTags);
    // The kit has at most four anchors: their table shows them all. The tag
    // table takes the height that is left and scrolls its rows on a small
    // screen rather than pushing the panel out of view.
    for (QTableWidget* t : {ui->tblAnker, ui->tblTags}) {
        t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 10);
        t->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    }
    const int rows = 4 * ui->tblAnker->verticalHeader()->defaultSectionSize();
    ui->tblAnker->setFixedHeight(ui->tblAnker->horizontalHeader()->sizeHint().height() + rows + 2 * ui->tblAnker->frameWidth());
    ui->tblTags->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui->tblTags->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    ui->tblTags->setMinimumHeight(ui->tblTags->horizontalHeader()->sizeHint().height() + rows / 2 + 2 * ui->tblTags->frameWidth());
    tablesInSync = true;
}

ModulesPanel::~ModulesPanel()
{
    delete ui;
}

// A table that holds the same modules keeps its rows and cell widgets and
// takes the changed values in place: reconnecting, loading the same setup or
// ending a drag rebuilds nothing.
void ModulesPanel::showAnchors(const QList<Anchor>& anchors)
{
    tablesInSync = false;
    if (!ModuleTables::updateAnchors(ui->tblAnker, anchors)) {
        for (QFlatComboBox* combo : ModuleTables::fillAnchors(ui->tblAnker, anchors).colours)
            connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                    &ModulesPanel::tableAnkerComboBoxSelected);
    }
    tablesInSync = true;
}

void ModulesPanel::showTags(const QList<Tag>& tags)
{
    tablesInSync = false;
    if (ModuleTables::updateTags(ui->tblTags, tags)) {
        tablesInSync = true;
        return;
    }
    const ModuleTables::Editors editors = ModuleTables::fillTags(ui->tblTags, tags);
    for (QFlatComboBox* combo : editors.colours)
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &ModulesPanel::tableTagsComboBoxSelected);
    for (QCheckBox* box : editors.checkBoxes)
        connect(box, &QCheckBox::toggled, this, &ModulesPanel::tableTagsCheckboxToggled);
    tablesInSync = true;
}

QList<Anchor> ModulesPanel::anchors() const { return ModuleTables::readAnchors(ui->tblAnker); }
QList<Tag> ModulesPanel::tags() const { return ModuleTables::readTags(ui->tblTags); }
void ModulesPanel::setDiscoveryEnabled(bool on) { ui->btnDiscovery->setEnabled(on); }
void ModulesPanel::setHeightColumnShown(bool shown) { ui->tblAnker->setColumnHidden(5, !shown); }

void ModulesPanel::readAnchorTable() { emit anchorsEdited(anchors()); }
void ModulesPanel::readTagTable() { emit tagsEdited(tags()); }

void ModulesPanel::on_tblAnker_cellChanged(int, int)
{
    if (tablesInSync)
        readAnchorTable();
}

void ModulesPanel::tableAnkerCheckboxToggled(bool)
{
    if (tablesInSync)
        readAnchorTable();
}

void ModulesPanel::tableAnkerComboBoxSelected(int)
{
    if (!tablesInSync)
        return;
    readAnchorTable();
    ModuleTables::recolourCombos(ui->tblAnker);
}

void ModulesPanel::on_tblTags_cellChanged(int, int)
{
    if (tablesInSync)
        readTagTable();
}

void ModulesPanel::tableTagsCheckboxToggled(bool)
{
    if (tablesInSync)
        readTagTable();
}

void ModulesPanel::tableTagsComboBoxSelected(int)
{
    if (!tablesInSync)
        return;
    readTagTable();
    ModuleTables::recolourCombos(ui->tblTags);
}

int ModulesPanel::tableTextPixelSize() const
{
    return QFontInfo(ui->tblTags->font()).pixelSize();
}
