#pragma once

#include <QColor>
#include <QWidget>

class QTextLayout;

namespace korvane::connector {

// A read-only piece of text that wraps at word boundaries and, inside a word too long for its
// width, anywhere: it never needs more width than a few characters, so text from outside (an
// exchange's message, a figure, a reason word) cannot widen the page, and its height always
// follows its width, so nothing is clipped. Its context menu copies the text.
class WrappingLabel : public QWidget {
  public:
    WrappingLabel(const QString& objectName, const QColor& color, int sizeDelta = 0, bool bold = false,
                  QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return text_; }
    void setColor(const QColor& color);
    QColor color() const { return color_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // Lays the text out in lines of `width`; returns the height used.
    int layOut(QTextLayout& layout, int width) const;

    QString text_;
    QColor color_;
    mutable int measuredWidth_ = -1;
    mutable int measuredHeight_ = 0;
};

}  // namespace korvane::connector
