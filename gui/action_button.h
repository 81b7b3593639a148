#pragma once

#include <QAbstractButton>
#include <QColor>

class QPropertyAnimation;

namespace korvane::connector {

// Shapes of the window's plain buttons: padding and corner radius.
struct ButtonShape {
    int horizontalPadding = 16;
    int verticalPadding = 10;
    int radius = 10;
};

// A flat rounded button drawn by hand: accent-filled when prominent, white with an outline
// otherwise, and shrunk slightly (scale 0.97, opacity 0.9, eased) while it shows as pressed.
class ActionButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(qreal pressProgress READ pressProgress WRITE setPressProgress)

  public:
    ActionButton(const QString& id, const QString& title, bool prominent, ButtonShape shape = {},
                 QWidget* parent = nullptr);

    void setProminent(bool prominent);
    bool prominent() const { return prominent_; }
    // Shows or lifts the pressed look, animated over 0.12 seconds.
    void setPressedLook(bool pressed);
    bool pressedLook() const { return pressedLook_; }

    qreal pressProgress() const { return pressProgress_; }
    void setPressProgress(qreal progress);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static QColor accentColor() { return QColor(47, 111, 237); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void updateShadow();

    bool prominent_;
    ButtonShape shape_;
    bool pressedLook_ = false;
    qreal pressProgress_ = 0.0;  // 0 at rest, 1 fully pressed
    QPropertyAnimation* animation_;
};

}  // namespace korvane::connector
