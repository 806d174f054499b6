#ifndef ANCHOR_H
#define ANCHOR_H

#include <QColor>
#include <QString>

// One anchor module: a radio standing at a known position.
struct Anchor
{
    QString id;
    QString name;
    QColor color;
    int x = 0;
    int y = 0;
    int z = 0;
    int offset = 0;     // cm added to every distance measured to this anchor
    bool master = false;

    Anchor() = default;
    // Argument order (master before offset) is the one the rest of the program uses.
    Anchor(const QString& id, const QString& name, const QColor& color,
           int x, int y, int z, bool master, int offset)
        : id(id), name(name), color(color), x(x), y(y), z(z), offset(offset), master(master) {}
};

#endif
