#pragma once

#include <QAbstractListModel>
#include <QList>

#include "gui/gui_records.h"

namespace korvane::connector {

// The technical log's rows: a mirror of the view model's entries (newest first) that follows
// them by inserting new entries at the top and dropping trimmed ones at the bottom, so the
// rows already shown are never rebuilt.
class LogListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role {
        TitleRole = Qt::UserRole + 1,  // QString
        PreviewRole,                   // QString: the output as drawn (shortened, line separators)
        MetaRole,                      // QString: time and exit code
        FailedRole,                    // bool: did not start, was killed, or exited non-zero
        IdRole,                        // QUuid
        CopyTextRole,                  // QString: title, time, exit code and the whole output
    };

    using QAbstractListModel::QAbstractListModel;

    // Makes the rows equal `entries`; rebuilds everything only when the two share no entry.
    void sync(const QList<CommandLogEntry>& entries);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Returns how many times sync had to rebuild every row.
    int rebuildCount() const { return rebuilds_; }

  private:
    struct Row {
        CommandLogEntry entry;
        QString preview;
        QString meta;
        bool failed = false;
    };
    static Row makeRow(const CommandLogEntry& entry);

    QList<Row> rows_;
    int rebuilds_ = 0;
};

// The longest output the log draws in full; beyond it the rest is left to Copy.
constexpr int kLogPreviewChars = 4000;
constexpr int kLogPreviewLines = 60;

// Returns the part of `output` the log draws: at most kLogPreviewLines lines and
// kLogPreviewChars characters, with a note of what was left out; line ends become line
// separators.
QString logPreview(const QString& output);

// Returns the time and outcome line of an entry, such as "14:03:27 · exit 0".
QString logMeta(const CommandLogEntry& entry);

// Returns true when the entry is a problem (see runIsProblem).
bool logEntryFailed(const CommandLogEntry& entry);

}  // namespace korvane::connector
