#include "numberedit.h"

#include <QIntValidator>
#include <QLineEdit>
#include <QPalette>

namespace {
const QColor InvalidBase(255, 205, 205);
}

void guardNumberEdit(QLineEdit* edit, int min, int max)
{
    edit->setValidator(new QIntValidator(min, max, edit));
    const QPalette normal = edit->palette();
    auto mark = [edit, normal] {
        if (edit->hasAcceptableInput()) {
            edit->setPalette(normal);
            return;
        }
        QPalette bad = normal;
        bad.setColor(QPalette::Base, InvalidBase);
        edit->setPalette(bad);
    };
    QObject::connect(edit, &QLineEdit::textChanged, edit, mark);
    mark();
}

bool isMarkedInvalid(const QLineEdit* edit)
{
    return edit->palette().color(QPalette::Base) == InvalidBase;
}
