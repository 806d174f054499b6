#ifndef MODULESPANEL_H
#define MODULESPANEL_H

#include "anchor.h"
#include "tag.h"

#include <QList>
#include <QWidget>

namespace Ui { class ModulesPanel; }

// The anchor and tag tables and the button to the module configuration.
// The tables are rebuilt whole from the records and read back whole after
// any edit, which the panel reports as fresh records.
class ModulesPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ModulesPanel(QWidget* parent = nullptr);
    ~ModulesPanel() override;

    void showAnchors(const QList<Anchor>& anchors);
    void showTags(const QList<Tag>& tags);
    QList<Anchor> anchors() const;
    QList<Tag> tags() const;
    void setDiscoveryEnabled(bool on);
    void setHeightColumnShown(bool shown);
    // Pixel size on screen of the tables' text.
    int tableTextPixelSize() const;

    // Down while a table is being built: the table slots stay silent.
    bool tablesInSync = false;

signals:
    void discoveryRequested();
    void anchorsEdited(const QList<Anchor>& anchors);
    void tagsEdited(const QList<Tag>& tags);

private slots:
    void on_tblAnker_cellChanged(int row, int column);
    void tableAnkerCheckboxToggled(bool state);
    void tableAnkerComboBoxSelected(int index);
    void on_tblTags_cellChanged(int row, int column);
    void tableTagsCheckboxToggled(bool state);
    void tableTagsComboBoxSelected(int index);

private:
    void readAnchorTable();
    void readTagTable();
    Ui::ModulesPanel* ui;
};

#endif
