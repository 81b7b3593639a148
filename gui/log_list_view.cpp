#include "gui/log_list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextLayout>

#include "gui/action_button.h"
#include "gui/log_list_model.h"

namespace korvane::connector {
namespace {

constexpr int kGapBelow = 8;   // between two boxes
constexpr int kPadding = 12;   // inside a box
constexpr int kHeaderGap = 6;  // between the title line and the output
constexpr int kRadius = 14;

const QColor kBoxFill(247, 249, 253);
const QColor kBoxOutline(221, 227, 238);
const QColor kTitleColor = QColor::fromRgbF(0.12, 0.14, 0.18);
const QColor kOutputColor = QColor::fromRgbF(0.16, 0.18, 0.23);
const QColor kMutedColor = QColor::fromRgbF(0.39, 0.43, 0.51);
const QColor kFailedColor(196, 54, 48);

// Lays `layout` out in lines of `width`, starting at the top; returns the height used.
int layoutLines(QTextLayout& layout, qreal width) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return int(std::ceil(y));
}

QString shownOutput(const QModelIndex& index) {
    const QString preview = index.data(LogListModel::PreviewRole).toString();
    return preview.isEmpty() ? QString("(no output)") : preview;
}

}  // namespace

LogEntryDelegate::LogEntryDelegate(QListView* view)
    : QStyledItemDelegate(view), view_(view), titleFont_(view->font()), metaFont_(view->font()) {
    titleFont_.setBold(true);
    titleFont_.setPointSizeF(titleFont_.pointSizeF() + 1);
    metaFont_.setPointSizeF(metaFont_.pointSizeF() - 1);
    outputFont_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

int LogEntryDelegate::heightFor(const QModelIndex& index, int width) const {
    const QUuid id = index.data(LogListModel::IdRole).toUuid();
    Measured& known = heights_[id];
    if (known.width == width) return known.height;
    // Forget entries that left the log now and then, so the table stays the log's size.
    if (heights_.size() > 4 * view_->model()->rowCount()) heights_.clear();
    const int header = std::max(QFontMetrics(titleFont_).height(), QFontMetrics(metaFont_).height());
    QTextLayout layout(shownOutput(index), outputFont_);
    const int output = layoutLines(layout, std::max(40, width - 2 * kPadding - 2));
    Measured measured{width, 2 * kPadding + header + kHeaderGap + output + kGapBelow + 2};
    heights_[id] = measured;
    return measured.height;
}

QSize LogEntryDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    const int width = view_->viewport()->width();
    return {width, heightFor(index, width)};
}

void LogEntryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool selected = option.state & QStyle::State_Selected;
    const QRectF box = QRectF(option.rect).adjusted(0.5, 0.5, -0.5, -0.5 - kGapBelow);
    QPainterPath path;
    path.addRoundedRect(box, kRadius, kRadius);
    QColor fill = kBoxFill;
    if (selected) fill = QColor(232, 240, 254);
    painter->fillPath(path, fill);
    painter->setPen(QPen(selected ? ActionButton::accentColor() : kBoxOutline, 1));
    painter->drawPath(path);

    const QRect inner =
        option.rect.adjusted(kPadding + 1, kPadding + 1, -kPadding - 1, -kPadding - kGapBelow - 1);
    const int header = std::max(QFontMetrics(titleFont_).height(), QFontMetrics(metaFont_).height());
    const QString meta = index.data(LogListModel::MetaRole).toString();
    const int metaWidth = QFontMetrics(metaFont_).horizontalAdvance(meta);
    painter->setFont(metaFont_);
    painter->setPen(index.data(LogListModel::FailedRole).toBool() ? kFailedColor : kMutedColor);
    painter->drawText(QRect(inner.right() - metaWidth, inner.top(), metaWidth + 1, header),
                      Qt::AlignRight | Qt::AlignVCenter, meta);
    painter->setFont(titleFont_);
    painter->setPen(kTitleColor);
    const QRect titleRect(inner.left(), inner.top(), std::max(0, inner.width() - metaWidth - 12), header);
    painter->drawText(
        titleRect, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(titleFont_)
            .elidedText(index.data(LogListModel::TitleRole).toString(), Qt::ElideRight, titleRect.width()));

    const QString output = index.data(LogListModel::PreviewRole).toString();
    QTextLayout layout(shownOutput(index), outputFont_);
    layoutLines(layout, std::max(40, option.rect.width() - 2 * kPadding - 2));
    painter->setPen(output.isEmpty() ? kMutedColor : kOutputColor);
    layout.draw(painter, QPointF(inner.left(), inner.top() + header + kHeaderGap));
    painter->restore();
}

LogListView::LogListView(QWidget* parent)
    : QListView(parent), model_(new LogListModel(this)), delegate_(new LogEntryDelegate(this)) {
    setObjectName("log-list");
    setAccessibleName("Technical log");
    setModel(model_);
    setItemDelegate(delegate_);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(24);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(false);
    setWordWrap(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    viewport()->setAutoFillBackground(false);
    setStyleSheet("QListView { background: transparent; }");
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this] { updateGeometry(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { updateGeometry(); });
}

void LogListView::setEntries(const QList<CommandLogEntry>& entries) {
    model_->sync(entries);
}

int LogListView::contentHeight() const {
    const int width = viewport()->width();
    int total = 0;
    for (int row = 0; row < model_->rowCount() && total < kMostHeight; ++row) {
        total += delegate_->heightFor(model_->index(row), width);
    }
    return total;
}

QSize LogListView::sizeHint() const {
    return {QListView::sizeHint().width(), std::min(contentHeight(), int(kMostHeight)) + 2 * frameWidth()};
}

QSize LogListView::minimumSizeHint() const {
    return {120, sizeHint().height()};
}

void LogListView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QListView::rowsInserted(parent, start, end);
    // Someone reading further down keeps their place: the view moves by what came in above.
    if (start == 0 && verticalScrollBar()->value() > 0) {
        for (int row = start; row <= end; ++row) {
            pendingShift_ += delegate_->heightFor(model_->index(row), viewport()->width());
        }
    }
    updateGeometry();
}

void LogListView::updateGeometries() {
    QListView::updateGeometries();
    if (pendingShift_ == 0) return;
    verticalScrollBar()->setValue(verticalScrollBar()->value() + pendingShift_);
    pendingShift_ = 0;
}

void LogListView::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    // Wrapped rows grow or shrink with the width, and the list's height follows them.
    updateGeometry();
}

QString LogListView::selectedText() const {
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList texts;
    for (const QModelIndex& row : rows) texts << row.data(LogListModel::CopyTextRole).toString();
    return texts.join("\n\n");
}

void LogListView::copyRows(const QModelIndexList& rows) const {
    QStringList texts;
    for (const QModelIndex& row : rows) texts << row.data(LogListModel::CopyTextRole).toString();
    QApplication::clipboard()->setText(texts.join("\n\n"));
}

void LogListView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        QApplication::clipboard()->setText(selectedText());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void LogListView::contextMenuEvent(QContextMenuEvent* event) {
    const QModelIndex under = indexAt(event->pos());
    if (under.isValid() && !selectionModel()->isSelected(under)) {
        selectionModel()->select(under, QItemSelectionModel::ClearAndSelect);
    }
    QMenu menu(this);
    QAction* copySelected = menu.addAction("Copy");
    copySelected->setEnabled(selectionModel()->hasSelection());
    QAction* copyAll = menu.addAction("Copy all entries");
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == copySelected) {
        QApplication::clipboard()->setText(selectedText());
    } else if (chosen == copyAll) {
        QModelIndexList all;
        for (int row = 0; row < model_->rowCount(); ++row) all << model_->index(row);
        copyRows(all);
    }
}

}  // namespace korvane::connector
