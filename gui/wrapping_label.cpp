#include "gui/wrapping_label.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QMenu>
#include <QPainter>
#include <QTextLayout>

#include "gui/card_widgets.h"

namespace korvane::connector {
namespace {

constexpr int kWidestHint = 480;  // preferred width of a long text; layouts may give it less
constexpr int kNarrowest = 48;

}  // namespace

WrappingLabel::WrappingLabel(const QString& objectName, const QColor& color, int sizeDelta, bool bold,
                             QWidget* parent)
    : QWidget(parent) {
    setObjectName(objectName);
    QFont shown = font();
    if (sizeDelta != 0) shown.setPointSizeF(shown.pointSizeF() + sizeDelta);
    if (shown.pointSizeF() > 0 && shown.pointSizeF() < kSmallestPoints) shown.setPointSizeF(kSmallestPoints);
    shown.setBold(bold);
    setFont(shown);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setColor(color);
}

void WrappingLabel::setText(const QString& text) {
    if (text_ == text) return;
    text_ = text;
    setAccessibleName(text);
    measuredWidth_ = -1;
    updateGeometry();
    update();
}

void WrappingLabel::setColor(const QColor& color) {
    if (color_ == color) return;
    color_ = color;
    // Kept in the palette as well, where styles and accessibility tools look for it.
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, color);
    setPalette(colors);
    update();
}

int WrappingLabel::layOut(QTextLayout& layout, int width) const {
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

int WrappingLabel::heightForWidth(int width) const {
    if (text_.isEmpty()) return 0;
    if (width != measuredWidth_) {
        QString shown = text_;
        shown.replace('\n', QChar::LineSeparator);
        QTextLayout layout(shown, font());
        measuredHeight_ = layOut(layout, std::max(width, 1));
        measuredWidth_ = width;
    }
    return measuredHeight_;
}

QSize WrappingLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    int natural = 0;
    for (const QString& line : text_.split('\n'))
        natural = std::max(natural, metrics.horizontalAdvance(line));
    const int width = std::min(natural + 1, kWidestHint);
    return {width, heightForWidth(width)};
}

QSize WrappingLabel::minimumSizeHint() const {
    // One line: the layout asks heightForWidth for the real height at the width it gives.
    if (text_.isEmpty()) return {0, 0};
    return {std::min(sizeHint().width(), kNarrowest), QFontMetrics(font()).height()};
}

void WrappingLabel::paintEvent(QPaintEvent*) {
    if (text_.isEmpty()) return;
    QString shown = text_;
    shown.replace('\n', QChar::LineSeparator);
    QTextLayout layout(shown, font());
    layOut(layout, width());
    QPainter painter(this);
    painter.setPen(color_);
    layout.draw(&painter, QPointF(0, 0));
}

void WrappingLabel::contextMenuEvent(QContextMenuEvent* event) {
    if (text_.isEmpty()) return;
    QMenu menu(this);
    const QAction* copy = menu.addAction("Copy");
    if (menu.exec(event->globalPos()) == copy) QApplication::clipboard()->setText(text_);
}

void WrappingLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        measuredWidth_ = -1;
        updateGeometry();
    }
}

}  // namespace korvane::connector
