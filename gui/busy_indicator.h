#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace korvane::connector {

// A small spinning arc with a word, next to a card's buttons: "Running" while a command that
// one of them asked for runs, "Queued" while it waits behind other runs; hidden when idle.
class BusyIndicator : public QWidget {
  public:
    enum class State { idle, queued, running };

    explicit BusyIndicator(const QString& objectName, QWidget* parent = nullptr);

    void setState(State state);
    State state() const { return state_; }
    // Returns the word shown; empty when idle.
    QString caption() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    State state_ = State::idle;
    int angle_ = 0;
    QBasicTimer timer_;
};

}  // namespace korvane::connector
