#pragma once

#include <QColor>
#include <QFrame>
#include <QList>
#include <functional>

#include "gui/gui_records.h"

class QLabel;
class QPlainTextEdit;
class QVBoxLayout;
class QHBoxLayout;

namespace korvane::connector {

class ActionButton;

// A dark card with a caption and a coloured value.
class StatusCard : public QFrame {
  public:
    StatusCard(const QString& objectName, const QString& title, QWidget* parent = nullptr);
    void setValue(const QString& value, const QColor& color);
    QString value() const;
    // The small line under the value: when it was confirmed, or why it is not known.
    void setDetail(const QString& detail);
    QString detail() const;

  private:
    QLabel* valueLabel_;
    QLabel* detailLabel_;
};

// A white titled card; callers fill contentLayout().
class SurfaceCard : public QFrame {
  public:
    SurfaceCard(const QString& objectName, const QString& title, const QString& subtitle,
                QWidget* parent = nullptr);
    QVBoxLayout* contentLayout() const { return content_; }

  private:
    QVBoxLayout* content_;
};

// The exchange tab row.
class ExchangeTabs : public QWidget {
  public:
    ExchangeTabs(const QList<ExchangeItem>& exchanges, std::function<void(const QString&)> onSelect,
                 QWidget* parent = nullptr);
    void setSelectedId(const QString& id);
    // Shows one tab per item, in order (rebuilt only when the items changed).
    void setExchanges(const QList<ExchangeItem>& exchanges);

  private:
    std::function<void(const QString&)> onSelect_;
    QHBoxLayout* row_;
    QList<ExchangeItem> shown_;
    QList<QPair<QString, ActionButton*>> tabs_;
};

// Two read-only text panels side by side; an empty body shows "No data".
class DualPanel : public QWidget {
  public:
    DualPanel(const QString& leftTitle, const QString& rightTitle, QWidget* parent = nullptr);
    void setBodies(const QString& left, const QString& right);
    QString leftText() const;
    QString rightText() const;

  private:
    QPlainTextEdit* left_;
    QPlainTextEdit* right_;
};

// The smallest text the window draws, in points (12 pixels at 96 dots per inch).
constexpr qreal kSmallestPoints = 9.0;

// Returns a label in `rgb` with an optional point-size change and weight.
QLabel* makeLabel(const QString& text, const QColor& color, int sizeDelta = 0, bool bold = false,
                  QWidget* parent = nullptr);

// Gives `widget` a soft drop shadow.
void addShadow(QWidget* widget, const QColor& color, qreal alpha, int radius, int offset);

}  // namespace korvane::connector
