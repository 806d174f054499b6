#ifndef SITELOG_H
#define SITELOG_H

#include "sitemodel.h"

#include <QFile>
#include <QString>

// The site log: a CSV row for every position the view takes and one (with
// the tag columns empty) for every change of a kit's state.
class SiteLog
{
public:
    static const char* const HeaderRow;

    // Creates or replaces the file and writes the header; false when it cannot.
    bool open(const QString& path);
    // Hooks the log to the model's callbacks.
    void attach(SiteModel& model);
    void position(const SiteModel& model, const SiteModel::Kit& kit, const SiteModel::TagState& tag);
    void kitState(const SiteModel::Kit& kit, qint64 nowMs);
    // False when a write failed since the file was opened.
    bool close();
    quint64 rows() const { return rowCount; }

private:
    void write(const QString& row);

    QFile file;
    bool failed = false;
    quint64 rowCount = 0;
};

#endif
