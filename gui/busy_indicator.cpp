#include "gui/busy_indicator.h"

#include <QPainter>
#include <QTimerEvent>

#include "gui/action_button.h"

namespace korvane::connector {
namespace {

constexpr int kArc = 14;
constexpr int kGap = 6;
constexpr int kStepMs = 50;

QFont captionFont(const QWidget* widget) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() - 1);
    return font;
}

}  // namespace

BusyIndicator::BusyIndicator(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    setAccessibleName("Command progress");
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    hide();
}

QString BusyIndicator::caption() const {
    switch (state_) {
        case State::running: return QString("Running") + QChar(0x2026);
        case State::queued: return QString("Queued") + QChar(0x2026);
        case State::idle: break;
    }
    return {};
}

void BusyIndicator::setState(State state) {
    if (state_ == state) return;
    state_ = state;
    setAccessibleDescription(caption());
    setToolTip(state == State::queued ? "Waiting for the command before it to finish" : QString());
    // The arc only turns while there is something to show.
    if (state == State::idle) {
        timer_.stop();
    } else if (!timer_.isActive()) {
        timer_.start(kStepMs, this);
    }
    setVisible(state != State::idle);
    update();
}

QSize BusyIndicator::sizeHint() const {
    const QFontMetrics metrics(captionFont(this));
    const int words = std::max(metrics.horizontalAdvance(QString("Running") + QChar(0x2026)),
                               metrics.horizontalAdvance(QString("Queued") + QChar(0x2026)));
    return {kArc + kGap + words + 2, std::max(kArc, metrics.height()) + 2};
}

void BusyIndicator::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) return QWidget::timerEvent(event);
    angle_ = (angle_ + 30) % 360;
    update(QRect(0, 0, kArc + 2, height()));
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    if (state_ == State::idle) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = ActionButton::accentColor();
    const QColor muted = QColor::fromRgbF(0.39, 0.43, 0.51);
    const QRectF arc(1.5, (height() - kArc) / 2.0 + 0.5, kArc - 1, kArc - 1);
    QColor track = state_ == State::running ? accent : muted;
    track.setAlphaF(0.2);
    painter.setPen(QPen(track, 2));
    painter.drawEllipse(arc);
    painter.setPen(QPen(state_ == State::running ? accent : muted, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(arc, -angle_ * 16, 100 * 16);
    painter.setFont(captionFont(this));
    painter.setPen(state_ == State::running ? accent : muted);
    painter.drawText(QRect(kArc + kGap, 0, width() - kArc - kGap, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     caption());
}

}  // namespace korvane::connector
