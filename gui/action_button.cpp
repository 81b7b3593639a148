#include "gui/action_button.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

namespace korvane::connector {

ActionButton::ActionButton(const QString& id, const QString& title, bool prominent, ButtonShape shape,
                           QWidget* parent)
    : QAbstractButton(parent),
      prominent_(prominent),
      shape_(shape),
      animation_(new QPropertyAnimation(this, "pressProgress", this)) {
    setObjectName(id);
    setText(title);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    animation_->setDuration(120);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    setGraphicsEffect(new QGraphicsDropShadowEffect(this));
    updateShadow();
}

void ActionButton::setProminent(bool prominent) {
    if (prominent_ == prominent) return;
    prominent_ = prominent;
    updateShadow();
    update();
}

void ActionButton::updateShadow() {
    auto* shadow = static_cast<QGraphicsDropShadowEffect*>(graphicsEffect());
    QColor color = prominent_ ? accentColor() : QColor(0, 0, 0);
    color.setAlphaF(prominent_ ? 0.18 : 0.04);
    shadow->setColor(color);
    shadow->setBlurRadius(prominent_ ? 12 : 4);
    shadow->setOffset(0, prominent_ ? 2 : 1);
}

void ActionButton::setPressedLook(bool pressed) {
    if (pressedLook_ == pressed) return;
    pressedLook_ = pressed;
    animation_->stop();
    animation_->setStartValue(pressProgress_);
    animation_->setEndValue(pressed ? 1.0 : 0.0);
    animation_->start();
}

void ActionButton::setPressProgress(qreal progress) {
    pressProgress_ = progress;
    update();
}

QSize ActionButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * shape_.horizontalPadding,
            metrics.height() + 2 * shape_.verticalPadding};
}

void ActionButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal scale = 1.0 - 0.03 * pressProgress_;
    // A button that cannot be used now is drawn faded.
    painter.setOpacity((isEnabled() ? 1.0 : 0.45) * (1.0 - 0.1 * pressProgress_));
    const QPointF center = QRectF(rect()).center();
    painter.translate(center);
    painter.scale(scale, scale);
    painter.translate(-center);

    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, shape_.radius, shape_.radius);
    if (prominent_) {
        painter.fillPath(path, accentColor());
    } else {
        painter.fillPath(path, Qt::white);
        painter.setPen(QPen(QColor::fromRgbF(0.78, 0.81, 0.86), 1));
        painter.drawPath(path);
    }
    painter.setPen(prominent_ ? QColor(Qt::white) : QColor::fromRgbF(0.13, 0.15, 0.2));
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (hasFocus()) {
        // A solid ring in a colour that stands out from the button's own fill.
        painter.setPen(QPen(prominent_ ? QColor(Qt::white) : accentColor(), 2));
        painter.drawRoundedRect(box.adjusted(2, 2, -2, -2), shape_.radius - 2, shape_.radius - 2);
    }
}

}  // namespace korvane::connector
