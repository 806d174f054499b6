#include "panelsection.h"

#include <QSettings>
#include <QToolButton>
#include <QVBoxLayout>

PanelSection::PanelSection(const QString& title, QWidget* body, QWidget* parent)
    : QWidget(parent), header(new QToolButton(this)), body(body)
{
    setObjectName(QStringLiteral("section") + body->objectName());
    header->setObjectName(QStringLiteral("hdr") + body->objectName());
    header->setText(title);
    header->setCheckable(true);
    header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header->setAutoRaise(true);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(header);
    layout->addWidget(body);
    const QString key = QStringLiteral("Seitenleiste/") + body->objectName();
    connect(header, &QToolButton::toggled, this, [this, key](bool on) {
        this->body->setVisible(on);
        header->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        QSettings().setValue(key, on);
    });
    const bool expanded = QSettings().value(key, true).toBool();
    header->setChecked(expanded);
    this->body->setVisible(expanded);
    header->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
}

bool PanelSection::isExpanded() const { return header->isChecked(); }
void PanelSection::setExpanded(bool expanded) { header->setChecked(expanded); }
