#pragma once

#include <QDateTime>
#include <QString>

namespace korvane::connector {

// How a status card colours its word.
enum class CardTone { neutral, good, warning, unknown };

// One status card as the window draws it.
struct CardView {
    QString word;
    CardTone tone = CardTone::neutral;
    QString detail;  // when it was last confirmed, or why it is not known now

    bool operator==(const CardView&) const = default;
};

struct StatusCards {
    CardView connector;
    CardView server;
    CardView binding;
};

// What the window knows about one card: the word of its last answer, when an answer last
// confirmed it, and why its last check failed (empty when it did not).
struct CardFacts {
    QString word;
    QDateTime confirmedAt;
    QString problem;
};

// Returns the three cards from what the window knows. A card whose last check failed says
// "unknown", never its last good word; and the cards agree: while the relay cannot be reached, a
// binding is not shown as authorized and a ready connector is marked offline.
StatusCards composeStatusCards(const CardFacts& connector, const CardFacts& server, const CardFacts& binding);

}  // namespace korvane::connector
