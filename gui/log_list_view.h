#pragma once

#include <QHash>
#include <QListView>
#include <QStyledItemDelegate>
#include <QUuid>

#include "gui/gui_records.h"

namespace korvane::connector {

class LogListModel;

// Draws one log entry as a rounded box: the title, its time and exit code, and the output in a
// monospaced face wrapped at the box's edge (anywhere inside a long word, so nothing widens).
class LogEntryDelegate : public QStyledItemDelegate {
  public:
    explicit LogEntryDelegate(QListView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Returns the height of the row `index` when the view is `width` wide (remembered per entry).
    int heightFor(const QModelIndex& index, int width) const;

  private:
    QListView* view_;
    QFont titleFont_;
    QFont metaFont_;
    QFont outputFont_;
    struct Measured {
        int width = -1;
        int height = 0;
    };
    mutable QHash<QUuid, Measured> heights_;
};

// The technical log's list: bounded in height (it scrolls inside the page), keeps the entry the
// user reads in place while new ones arrive above it, and copies selected entries with the
// usual shortcut or its context menu.
class LogListView : public QListView {
    Q_OBJECT

  public:
    static constexpr int kMostHeight = 460;

    explicit LogListView(QWidget* parent = nullptr);

    // Shows `entries` (newest first), changing only the rows that came or went.
    void setEntries(const QList<CommandLogEntry>& entries);
    LogListModel* logModel() const { return model_; }
    // Returns the text Copy puts on the clipboard for the selected rows.
    QString selectedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void updateGeometries() override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    int contentHeight() const;
    void copyRows(const QModelIndexList& rows) const;

    LogListModel* model_;
    LogEntryDelegate* delegate_;
    int pendingShift_ = 0;  // height of rows added above while the user had scrolled down
};

}  // namespace korvane::connector
