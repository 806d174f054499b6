#include "discoverwin.h"
#include "ui_discoverwin.h"

#include "configcommand.h"
#include "leastusedcolor.h"
#include "modulesetup.h"
#include "qflatcombobox.h"
#include "tablecells.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHash>
#include <QList>
#include <QMessageBox>
#include <QPalette>
#include <QSet>
#include <QTableWidget>

namespace {

enum Column {
    ColId = 0,
    ColRole = 1,
    ColName = 2,
    ColX = 3,
    ColY = 4,
    ColZ = 5,
    ColColor = 6,
    ColFirstFlag = 7,   // PosRAW .. Rate, in the order of the Tag constructor
    ColOffset = 14
};
constexpr int flagCount = 7;

// The identifier of one packet field: trimmed and upper-cased.
QString packetId(const QByteArray& field)
{
    return QString::fromLatin1(field).trimmed().toUpper();
}

} // namespace

DiscoverWin::DiscoverWin(QWidget* parent)
    : QDialog(parent), ui(new Ui::DiscoverWin)
{
    ui->setupUi(this);

    roleNames.insert(tr("Master"), RoleMaster);
    roleNames.insert(tr("Anker"), RoleAnchor);
    roleNames.insert(tr("Tag"), RoleTag);
    roleNames.insert(tr("nicht nutzen"), RoleNotUsed);

    // The hidden columns only carry record fields through the dialog.
    ui->tblModule->setColumnHidden(ColZ, true);
    for (int column = ColFirstFlag; column <= ColOffset; ++column)
        ui->tblModule->setColumnHidden(column, true);
    ui->tblModule->setColumnWidth(ColId, 45);
    ui->tblModule->setColumnWidth(ColName, 120);
    ui->tblModule->setColumnWidth(ColX, 50);
    ui->tblModule->setColumnWidth(ColY, 50);
    ui->tblModule->setColumnWidth(ColZ, 50);
    ui->tblModule->setColumnWidth(ColColor, 40);
    // The role column must show its longest text ("nicht nutzen") in full.
    QComboBox probe;
    for (auto it = roleNames.constBegin(); it != roleNames.constEnd(); ++it)
        probe.addItem(it.key());
    ui->tblModule->setColumnWidth(ColRole, qMax(ui->tblModule->columnWidth(ColRole), probe.sizeHint().width() + 4));
    // Headers, identifiers and positions up to five digits shown whole, whatever the font.
    fitColumnsToHeaders(ui->tblModule, false);
    const int number = ui->tblModule->fontMetrics().horizontalAdvance(QStringLiteral("-10000")) + 12;
    for (int column : {ColX, ColY})
        ui->tblModule->setColumnWidth(column, qMax(ui->tblModule->columnWidth(column), number));
}

DiscoverWin::~DiscoverWin()
{
    delete ui;
}

QTableWidget* DiscoverWin::table() const
{
    return ui->tblModule;
}

void DiscoverWin::setModules(ModuleSetup* setup)
{
    modules = setup;
    clearTable(ui->tblModule);
    if (!modules)
        return;

    // Masters first, then the other anchors, then the tags.
    for (int pass = 0; pass < 2; ++pass) {
        const bool wantMaster = pass == 0;
        for (const Anchor& anchor : qAsConst(modules->anchors)) {
            if (anchor.master != wantMaster)
                continue;
            RowCells cells;
            cells.id = anchor.id;
            cells.idEditable = !anchor.master;
            cells.role = anchor.master ? RoleMaster : RoleAnchor;
            cells.name = anchor.name;
            cells.x = QString::number(anchor.x);
            cells.y = QString::number(anchor.y);
            cells.z = QString::number(anchor.z);
            cells.color = anchor.color;
            cells.offset = QString::number(anchor.offset);
            cells.idBackground = Qt::red;
            appendRow(cells);
        }
    }
    for (const Tag& tag : qAsConst(modules->tags)) {
        RowCells cells;
        cells.id = tag.id;
        cells.role = RoleTag;
        cells.name = tag.name;
        cells.x = cells.y = cells.z = QStringLiteral("-");
        cells.color = tag.color;
        cells.flags[0] = tag.showPosRaw;
        cells.flags[1] = tag.showPosAvg;
        cells.flags[2] = tag.showDistRaw;
        cells.flags[3] = tag.showDistAvg;
        cells.flags[4] = tag.showCoordinates;
        cells.flags[5] = tag.showSpeed;
        cells.flags[6] = tag.showRate;
        cells.offset = QStringLiteral("0");
        cells.idBackground = Qt::red;
        appendRow(cells);
    }
    initialSnapshot = configurationSnapshot();
}

QString DiscoverWin::configurationSnapshot() const
{
    QStringList rows;
    QTableWidget* table = ui->tblModule;
    for (int row = 0; row < table->rowCount(); ++row) {
        const int role = roleCellValue(table, row, ColRole);
        if (role == RoleNotUsed)
            continue;
        QStringList cells = {QString::number(role), cellColor(table, row, ColColor).name()};
        for (int column : {ColId, ColName, ColX, ColY, ColZ, ColOffset})
            cells << cellText(row, column);
        for (int i = 0; i < flagCount; ++i)
            cells << QString::number(isCellChecked(table, row, ColFirstFlag + i));
        rows << cells.join(QLatin1Char('|'));
    }
    return rows.join(QLatin1Char('\n'));
}

void DiscoverWin::appendRow(const RowCells& cells)
{
    QTableWidget* table = ui->tblModule;
    const int row = table->rowCount();
    table->insertRow(row);
    setTextCell(table, row, ColId, cells.id, cells.idEditable);
    // Only the master's role is fixed; every other row may change its role.
    setRoleComboCell(table, row, ColRole, roleNames, cells.role != RoleMaster, cells.role);
    setTextCell(table, row, ColName, cells.name, true);
    setTextCell(table, row, ColX, cells.x, true);
    setTextCell(table, row, ColY, cells.y, true);
    setTextCell(table, row, ColZ, cells.z, true);
    QFlatComboBox* combo = setColorComboCell(table, row, ColColor, cells.color);
    connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged),
            this, &DiscoverWin::colorComboSelected);
    for (int i = 0; i < flagCount; ++i)
        setCheckBoxCell(table, row, ColFirstFlag + i, cells.flags[i], false);
    setTextCell(table, row, ColOffset, cells.offset, true);
    setCellBackground(table, row, ColId, cells.idBackground);
}

QString DiscoverWin::cellText(int row, int column) const
{
    const QTableWidgetItem* item = ui->tblModule->item(row, column);
    return item ? item->text() : QString();
}

int DiscoverWin::cellInt(int row, int column) const
{
    // A text that is not a decimal number counts as 0.
    return cellText(row, column).trimmed().toInt();
}

void DiscoverWin::warn(const QString& title, const QString& text)
{
    // Failed commands say why; the reason belongs to this warning only.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box.setInformativeText(failureReason);
    failureReason.clear();
    box.exec();
}

void DiscoverWin::on_btnStartDiscovery_clicked()
{
    if (state == DiscoveryState::Idle) {
        state = DiscoveryState::StartPending;
        emit executeCommand(QByteArrayLiteral("$PW,1,\r\n"), false);
    } else if (state == DiscoveryState::Discovering) {
        state = DiscoveryState::StopPending;
        emit executeCommand(QByteArrayLiteral("$PW,0,\r\n"), false);
    }
}

void DiscoverWin::on_btnResetConfiguration_clicked()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Module erkennen"),
        tr("Achtung:\nAlle getroffenen Einstellungen bzgl Tags und Anker werden hiermit gelöscht!\n"
           "Das kann nicht rückgängig gemacht werden!"),
        QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    state = DiscoveryState::ResetPending;
    // From here on the master's own configuration may be gone, whatever the answer.
    configurationReset = true;
    emit executeCommand(QByteArrayLiteral("$PL,\r\n"), true);
}

void DiscoverWin::discoverPacket(QByteArray packet)
{
    const QList<QByteArray> fields = packet.split(',');
    if (fields.size() < 3)
        return;

    QTableWidget* table = ui->tblModule;
    QStringList ids;
    ids.reserve(fields.size() - 2);
    for (int i = 2; i < fields.size(); ++i)
        ids.append(packetId(fields.at(i)));

    if (state == DiscoveryState::Discovering) {
        QSet<QString> seen;
        for (const QString& id : qAsConst(ids)) {
            if (!id.isEmpty())
                seen.insert(id);
        }
        for (int row = 0; row < table->rowCount(); ++row) {
            if (!seen.contains(cellText(row, ColId)))
                setCellBackground(table, row, ColId, Qt::red);
        }
    }

    // First row per ID text, so that long packets stay linear.
    QHash<QString, int> rowOfId;
    for (int row = table->rowCount() - 1; row >= 0; --row)
        rowOfId.insert(cellText(row, ColId), row);

    for (int i = 0; i < ids.size(); ++i) {
        const QString& id = ids.at(i);
        if (id.isEmpty())
            continue;
        bool ok = false;
        const int value = id.toInt(&ok, 16);
        if (!ok || value < 2)
            continue;

        int row = rowOfId.value(id, -1);
        if (row < 0) {
            if (table->rowCount() >= maxDiscoveredRows)
                continue;
            const bool master = i == 0;     // packet field 2
            row = table->rowCount();
            RowCells cells;
            cells.id = id;
            cells.idEditable = !master;
            cells.role = master ? RoleMaster : RoleNotUsed;
            cells.name = id;
            // No position is known yet, as for the tags.
            cells.x = cells.y = cells.z = QStringLiteral("-");
            // A colour no other row has yet, so a module found now never
            // looks like an anchor or tag already there.
            QList<QColor> used;
            for (int r = 0; r < row; ++r)
                used << cellColor(table, r, ColColor);
            cells.color = newModuleColor(colorList, used);
            cells.flags[1] = true;          // PosAVG
            cells.offset = QStringLiteral("0");
            appendRow(cells);
            rowOfId.insert(id, row);
        }
        setCellBackground(table, row, ColId, Qt::green);
    }
}

void DiscoverWin::on_addDummys_clicked()
{
    QTableWidget* table = ui->tblModule;
    QString masterId;
    int x = 0, y = 0, z = 0, offset = 0;
    QColor color(0, 0, 0, 255);
    for (int row = 0; row < table->rowCount(); ++row) {
        if (roleCellValue(table, row, ColRole) != RoleMaster)
            continue;
        masterId = cellText(row, ColId);
        x = cellInt(row, ColX);
        y = cellInt(row, ColY);
        z = cellInt(row, ColZ);
        offset = cellInt(row, ColOffset);
        color = cellColor(table, row, ColColor);
        break;
    }
    if (masterId.isEmpty()) {
        warn(tr("Modul manuell hinzufügen"), tr("Es wurde kein Masteranker gefunden!"));
        return;
    }

    // A new anchor starts where the master stands.
    RowCells cells;
    cells.id = QStringLiteral("0");
    cells.role = RoleAnchor;
    cells.name = QStringLiteral("0");
    cells.x = QString::number(x);
    cells.y = QString::number(y);
    cells.z = QString::number(z);
    cells.color = color;
    cells.offset = QString::number(offset);
    cells.idBackground = Qt::red;
    appendRow(cells);
}

void DiscoverWin::colorComboSelected(int /*index*/)
{
    QTableWidget* table = ui->tblModule;
    for (int row = 0; row < table->rowCount(); ++row) {
        QWidget* cell = table->cellWidget(row, ColColor);
        if (!cell)
            continue;
        auto* combo = qobject_cast<QFlatComboBox*>(cell);
        if (!combo)
            combo = cell->findChild<QFlatComboBox*>();
        if (!combo || combo->currentIndex() < 0)
            continue;
        const QColor color = combo->currentData(Qt::UserRole).value<QColor>();
        QPalette palette = combo->palette();
        palette.setBrush(QPalette::Window, QBrush(color));
        palette.setBrush(QPalette::Base, QBrush(color));
        combo->setPalette(palette);
    }
}

void DiscoverWin::on_btnCancelDiscovery_clicked()
{
    if (configurationReset) {
        // The master's configuration was erased: give it the records back.
        state = DiscoveryState::RestorePending;
        const QString command = modules ? buildConfigCommand(*modules) : QString();
        emit executeCommand(command.toLatin1(), false);
        return;
    }
    closeAllowed = true;
    QDialog::reject();
}

void DiscoverWin::on_btnFinishDiscovery_clicked()
{
    QTableWidget* table = ui->tblModule;
    int masters = 0, anchors = 0, tags = 0;
    bool badId = false, badName = false;
    for (int row = 0; row < table->rowCount(); ++row) {
        switch (roleCellValue(table, row, ColRole)) {
        case RoleMaster: ++masters; break;
        case RoleAnchor: ++anchors; break;
        case RoleTag: ++tags; break;
        default: break;
        }
        if (cellText(row, ColName).trimmed().isEmpty())
            badName = true;
        const QString id = cellText(row, ColId).trimmed();
        bool ok = false;
        id.toInt(&ok, 16);
        if (id.isEmpty() || !ok)
            badId = true;
    }

    QString message;
    if (masters != 1)
        message += tr("Sie müssen genau einen Master definieren!\n");
    if (anchors > 3)
        message += tr("Sie können maximal 3 Slave-Anker definieren!\n");
    if (tags > 4)
        message += tr("Sie können maximal 4 Tags definieren!\n");
    if (badId)
        message += tr("Mindestens eine ID ist keine gültige HEX-Zahl!\n");
    if (badName)
        message += tr("Mindestens ein Name ist ungültig oder leer!\n");
    if (!message.isEmpty()) {
        QMessageBox::information(this, tr("Modulkonfiguration"), message, QMessageBox::Ok);
        return;
    }
    if (!modules)
        return;

    // The records are replaced now, before the master has answered. The
    // display switches this table does not show stay as they were per tag.
    const QList<Tag> before = modules->tags;
    modules->anchors.clear();
    modules->tags.clear();
    auto anchorOf = [&](int row, bool master) {
        return Anchor(cellText(row, ColId), cellText(row, ColName), cellColor(table, row, ColColor),
                      cellInt(row, ColX), cellInt(row, ColY), cellInt(row, ColZ), master,
                      cellInt(row, ColOffset));
    };
    for (int row = 0; row < table->rowCount(); ++row) {
        if (roleCellValue(table, row, ColRole) == RoleMaster)
            modules->anchors.append(anchorOf(row, true));
    }
    for (int row = 0; row < table->rowCount(); ++row) {
        const int role = roleCellValue(table, row, ColRole);
        if (role == RoleAnchor) {
            modules->anchors.append(anchorOf(row, false));
        } else if (role == RoleTag) {
            auto flag = [&](int i) { return isCellChecked(table, row, ColFirstFlag + i); };
            modules->tags.append(Tag(cellText(row, ColId), cellText(row, ColName),
                                     cellColor(table, row, ColColor),
                                     flag(0), flag(1), flag(2), flag(3), flag(4), flag(5), flag(6)));
            for (const Tag& old : before)
                if (ModuleSetup::sameId(old.id, modules->tags.last().id)) {
                    modules->tags.last().showUncertainty = old.showUncertainty;
                    modules->tags.last().showTrail = old.showTrail;
                }
        }
    }

    state = DiscoveryState::UploadPending;
    emit executeCommand(buildConfigCommand(*modules).toLatin1(), false);
}

void DiscoverWin::commandResult(bool ok)
{
    switch (state) {
    case DiscoveryState::StartPending:
        if (ok) {
            state = DiscoveryState::Discovering;
        } else {
            state = DiscoveryState::Idle;
            warn(tr("Erkennungsmodus starten"),
                 tr("Der Erkennungsmodus konnte nicht initialisiert werden!"));
        }
        break;
    case DiscoveryState::StopPending:
        state = DiscoveryState::Idle;
        if (!ok) {
            closeAfterStop = false;
            warn(tr("Erkennungsmodus beenden"), tr("Der Erkennungsmodus konnte nicht beendet werden!"));
        } else if (closeAfterStop) {
            closeAfterStop = false;
            on_btnCancelDiscovery_clicked();   // closes, after giving a reset master its configuration back
        }
        break;
    case DiscoveryState::ResetPending:
        if (ok) {
            // The master forgot everything but itself.
            for (int row = ui->tblModule->rowCount() - 1; row >= 0; --row) {
                if (roleCellValue(ui->tblModule, row, ColRole) != RoleMaster)
                    removeTableRow(ui->tblModule, row);
            }
            state = DiscoveryState::Idle;
        } else {
            warn(tr("Konfiguration zurücksetzen"), tr("Befehl konnte nicht ausgeführt werden!"));
            state = DiscoveryState::Idle;
        }
        break;
    case DiscoveryState::RestorePending:
        state = DiscoveryState::Idle;
        if (!ok) {
            // Said, but no reason to keep the user here: another try fails
            // alike (no anchors to send), and the tables can set it up anew.
            warn(tr("Konfiguration verwerfen"),
                 tr("Die Konfiguration konnte nicht zurückgesetzt werden!\n"
                    "Der Master bleibt ohne seine bisherige Konfiguration; bitte die Module neu konfigurieren."));
        }
        closeAllowed = true;
        QDialog::reject();
        break;
    case DiscoveryState::UploadPending:
        state = DiscoveryState::Idle;
        if (ok) {
            closeAllowed = true;
            accept();
        } else if (configurationReset) {
            warn(tr("Konfiguration übernehmen"),
                 tr("Die Konfiguration konnte nicht übernommen werden!\n"
                    "Achtung, die Daten auf dem Master befinden sich in undefiniertem Zustand, "
                    "die Module müssen neu erfasst werden!"));
        } else {
            warn(tr("Konfiguration übernehmen"), tr("Die Konfiguration konnte nicht übernommen werden!"));
        }
        break;
    case DiscoveryState::Idle:
    case DiscoveryState::Discovering:
        break;
    }
    failureReason.clear();
    updateButtons();
}

void DiscoverWin::updateButtons()
{
    const bool idle = state == DiscoveryState::Idle;
    ui->btnStartDiscovery->setText(idle ? QStringLiteral("Erkennungsmodus starten")
                                        : QStringLiteral("Erkennungsmodus beenden"));
    ui->btnResetConfiguration->setEnabled(idle);
    ui->btnCancelDiscovery->setEnabled(idle);
    ui->btnFinishDiscovery->setEnabled(idle);
}

void DiscoverWin::reject()
{
    if (closeAllowed)
        QDialog::reject();
    else
        close();
}

void DiscoverWin::closeEvent(QCloseEvent* event)
{
    if (closeAllowed) {
        QDialog::closeEvent(event);
        return;
    }
    // One question at most, and only when leaving would lose something.
    const bool changed = configurationReset || configurationSnapshot() != initialSnapshot;
    if (changed) {
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, tr("Konfiguration verwerfen"),
            tr("Achtung:\nAlle geänderten Einstellungen bzgl Tags und Anker werden verworfen!"),
            QMessageBox::Ok | QMessageBox::Cancel);
        if (answer != QMessageBox::Ok) {
            event->ignore();
            return;
        }
    }
    event->ignore();
    if (state == DiscoveryState::Discovering) {
        // Leaving stops the discovery; the dialog closes once the master confirms.
        closeAfterStop = true;
        on_btnStartDiscovery_clicked();
    } else if (state == DiscoveryState::Idle) {
        // After a reset the master gets its configuration back, as with "Verwerfen".
        on_btnCancelDiscovery_clicked();
    }
}
