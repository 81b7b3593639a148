#include "gui/log_list_model.h"

#include "gui/log_reading.h"

namespace korvane::connector {

QString logPreview(const QString& output) {
    QString text = output;
    text.remove('\r');
    while (text.endsWith('\n')) text.chop(1);
    qsizetype cut = -1;
    // The 60th line end, if there is one, bounds the lines drawn.
    qsizetype at = -1;
    for (int line = 0; line < kLogPreviewLines; ++line) {
        at = text.indexOf('\n', at + 1);
        if (at < 0) break;
    }
    if (at >= 0) cut = at;
    if (text.size() > kLogPreviewChars && (cut < 0 || cut > kLogPreviewChars)) cut = kLogPreviewChars;
    if (cut >= 0) {
        const qsizetype left = text.size() - cut;
        text = text.left(cut) + "\n" + QChar(0x2026) + " " + QString::number(left) +
               " more characters not shown here; Copy takes the whole output";
    }
    // A text layout breaks lines at line separators, not at line feeds.
    text.replace('\n', QChar::LineSeparator);
    return text;
}

QString logMeta(const CommandLogEntry& entry) {
    QString outcome;
    if (!entry.started) {
        outcome = "did not start";
    } else if (!entry.exitCode) {
        outcome = "killed";
    } else {
        outcome = "exit " + QString::number(*entry.exitCode);
    }
    QString meta = entry.finishedAt.toString("HH:mm:ss") + QString(" \u00b7 ") + outcome;
    if (entry.repeats > 1) {
        meta += QString(" \u00b7 ") + QString::number(entry.repeats) + " times since " +
                entry.firstAt.toString("HH:mm:ss") + ", last at " + entry.finishedAt.toString("HH:mm:ss");
    }
    return meta;
}

bool logEntryFailed(const CommandLogEntry& entry) {
    return runIsProblem(entry);
}

LogListModel::Row LogListModel::makeRow(const CommandLogEntry& entry) {
    return Row{entry, logPreview(entry.output), logMeta(entry), logEntryFailed(entry)};
}

void LogListModel::sync(const QList<CommandLogEntry>& entries) {
    if (!rows_.isEmpty() && !entries.isEmpty()) {
        // Entries only ever arrive at the top and leave at the bottom: find where the newest
        // row shown sits now, and check the two lists agree from there on.
        qsizetype newer = -1;
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (entries[i].id == rows_.first().entry.id) {
                newer = i;
                break;
            }
        }
        const qsizetype overlap = std::min<qsizetype>(rows_.size(), entries.size() - newer);
        if (newer >= 0 && entries[newer + overlap - 1].id == rows_[overlap - 1].entry.id) {
            // Entries below the rows shown (the filter was widened): they join at the bottom.
            if (overlap == rows_.size() && newer + overlap < entries.size()) {
                const qsizetype from = newer + overlap;
                beginInsertRows({}, int(rows_.size()), int(rows_.size() + entries.size() - from) - 1);
                for (qsizetype i = from; i < entries.size(); ++i) rows_.append(makeRow(entries[i]));
                endInsertRows();
            }
            if (newer > 0) {
                beginInsertRows({}, 0, int(newer) - 1);
                QList<Row> added;
                added.reserve(newer);
                for (qsizetype i = 0; i < newer; ++i) added.append(makeRow(entries[i]));
                rows_ = added + rows_;
                endInsertRows();
            }
            if (rows_.size() > entries.size()) {
                beginRemoveRows({}, int(entries.size()), int(rows_.size()) - 1);
                rows_.resize(entries.size());
                endRemoveRows();
            }
            // A repeated result is counted in a recent entry: redraw the ones whose count moved.
            for (qsizetype i = 0; i < std::min<qsizetype>(rows_.size(), newer + kFoldWindow); ++i) {
                if (rows_[i].entry.repeats == entries[i].repeats) continue;
                rows_[i] = makeRow(entries[i]);
                emit dataChanged(index(int(i)), index(int(i)));
            }
            return;
        }
    }
    if (entries.isEmpty() && rows_.isEmpty()) return;
    if (rows_.isEmpty()) {
        beginInsertRows({}, 0, int(entries.size()) - 1);
        for (const CommandLogEntry& entry : entries) rows_.append(makeRow(entry));
        endInsertRows();
        return;
    }
    if (!entries.isEmpty()) ++rebuilds_;
    beginResetModel();
    rows_.clear();
    for (const CommandLogEntry& entry : entries) rows_.append(makeRow(entry));
    endResetModel();
}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) return {};
    const Row& row = rows_[index.row()];
    switch (role) {
        case Qt::DisplayRole:
        case TitleRole: return row.entry.title;
        case Qt::AccessibleTextRole: return row.entry.title + ", " + row.meta;
        case PreviewRole: return row.preview;
        case MetaRole: return row.meta;
        case FailedRole: return row.failed;
        case IdRole: return row.entry.id;
        case CopyTextRole: return row.entry.title + "  (" + row.meta + ")\n" + row.entry.output;
        default: return {};
    }
}

}  // namespace korvane::connector
