#include "gui/card_widgets.h"

#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "gui/action_button.h"

namespace korvane::connector {

QLabel* makeLabel(const QString& text, const QColor& color, int sizeDelta, bool bold, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    QFont font = label->font();
    if (sizeDelta != 0) font.setPointSizeF(font.pointSizeF() + sizeDelta);
    // Nothing smaller than 12 pixels (9 points at the usual 96 dots per inch) stays readable.
    if (font.pointSizeF() > 0 && font.pointSizeF() < kSmallestPoints) font.setPointSizeF(kSmallestPoints);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

void addShadow(QWidget* widget, const QColor& color, qreal alpha, int radius, int offset) {
    auto* shadow = new QGraphicsDropShadowEffect(widget);
    QColor shade = color;
    shade.setAlphaF(alpha);
    shadow->setColor(shade);
    shadow->setBlurRadius(radius * 2);
    shadow->setOffset(0, offset);
    widget->setGraphicsEffect(shadow);
}

StatusCard::StatusCard(const QString& objectName, const QString& title, QWidget* parent) : QFrame(parent) {
    setObjectName(objectName);
    setStyleSheet(QString("#%1 { border-radius: 18px; border: 1px solid rgba(255,255,255,20);"
                          " background: qlineargradient(x1:0, y1:0, x2:1, y2:1,"
                          " stop:0 rgb(43,48,61), stop:1 rgb(31,33,43)); }")
                      .arg(objectName));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    QColor caption(Qt::white);
    caption.setAlphaF(0.72);
    layout->addWidget(makeLabel(title, caption, -1));
    valueLabel_ = makeLabel("", Qt::white, 5, true);
    valueLabel_->setObjectName(objectName + "-value");
    valueLabel_->setAccessibleName(title);
    layout->addWidget(valueLabel_);
    detailLabel_ = makeLabel("", QColor(201, 207, 219));
    detailLabel_->setObjectName(objectName + "-detail");
    // Reserved, so the cards never change height when a detail comes or goes.
    detailLabel_->setMinimumHeight(detailLabel_->fontMetrics().lineSpacing() * 3);
    detailLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(detailLabel_);
    // Caption and word stay at the top whatever the detail's length, level across the cards.
    layout->addStretch();
    addShadow(this, Qt::black, 0.12, 10, 4);
}

void StatusCard::setDetail(const QString& detail) {
    if (detailLabel_->text() != detail) detailLabel_->setText(detail);
}

QString StatusCard::detail() const {
    return detailLabel_->text();
}

void StatusCard::setValue(const QString& value, const QColor& color) {
    valueLabel_->setText(value);
    QPalette palette = valueLabel_->palette();
    palette.setColor(QPalette::WindowText, color);
    valueLabel_->setPalette(palette);
}

QString StatusCard::value() const {
    return valueLabel_->text();
}

SurfaceCard::SurfaceCard(const QString& objectName, const QString& title, const QString& subtitle,
                         QWidget* parent)
    : QFrame(parent) {
    setObjectName(objectName);
    setStyleSheet(
        QString("#%1 { background: white; border-radius: 20px; border: 1px solid rgb(214,222,235); }")
            .arg(objectName));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    auto* heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->addWidget(makeLabel(title, QColor::fromRgbF(0.1, 0.12, 0.16), 4, true));
    if (!subtitle.isEmpty()) heading->addWidget(makeLabel(subtitle, QColor::fromRgbF(0.38, 0.42, 0.5)));
    layout->addLayout(heading);
    content_ = new QVBoxLayout;
    content_->setSpacing(14);
    layout->addLayout(content_);
    addShadow(this, Qt::black, 0.06, 18, 8);
}

ExchangeTabs::ExchangeTabs(const QList<ExchangeItem>& exchanges, std::function<void(const QString&)> onSelect,
                           QWidget* parent)
    : QWidget(parent), onSelect_(std::move(onSelect)) {
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(8);
    row_->addStretch();
    setExchanges(exchanges);
}

void ExchangeTabs::setExchanges(const QList<ExchangeItem>& exchanges) {
    if (exchanges == shown_) return;
    shown_ = exchanges;
    for (const auto& [id, tab] : tabs_) delete tab;
    tabs_.clear();
    for (const ExchangeItem& item : exchanges) {
        auto* tab = new ActionButton("tab-" + item.id, item.name, false, ButtonShape{14, 10, 12}, this);
        connect(tab, &QAbstractButton::clicked, this, [this, id = item.id] { onSelect_(id); });
        row_->insertWidget(row_->count() - 1, tab);
        tabs_.append({item.id, tab});
    }
}

void ExchangeTabs::setSelectedId(const QString& id) {
    for (const auto& [tabId, tab] : tabs_) tab->setProminent(tabId == id);
}

namespace {

QPlainTextEdit* makePanel(QHBoxLayout* row, const QString& title, const QString& objectName) {
    auto* panel = new QFrame;
    panel->setObjectName(objectName + "-panel");
    panel->setStyleSheet(QString("#%1-panel { background: rgb(247,250,255); border-radius: 14px;"
                                 " border: 1px solid rgb(217,224,237); }")
                             .arg(objectName));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(12, 12, 12, 12);
    column->addWidget(makeLabel(title, QColor::fromRgbF(0.12, 0.14, 0.18), 1, true));
    auto* body = new QPlainTextEdit;
    body->setObjectName(objectName);
    body->setAccessibleName(title);
    body->setReadOnly(true);
    body->setMinimumHeight(110);
    body->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    body->setStyleSheet("QPlainTextEdit { background: transparent; border: none; color: rgb(41,46,59); }");
    column->addWidget(body);
    row->addWidget(panel, 1, Qt::AlignTop);
    return body;
}

}  // namespace

DualPanel::DualPanel(const QString& leftTitle, const QString& rightTitle, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    left_ = makePanel(row, leftTitle, "details-left");
    right_ = makePanel(row, rightTitle, "details-right");
}

void DualPanel::setBodies(const QString& left, const QString& right) {
    const QString shownLeft = left.isEmpty() ? "No data" : left;
    const QString shownRight = right.isEmpty() ? "No data" : right;
    if (left_->toPlainText() != shownLeft) left_->setPlainText(shownLeft);
    if (right_->toPlainText() != shownRight) right_->setPlainText(shownRight);
}

QString DualPanel::leftText() const {
    return left_->toPlainText();
}
QString DualPanel::rightText() const {
    return right_->toPlainText();
}

}  // namespace korvane::connector
