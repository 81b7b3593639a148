#include "gui/status_cards.h"

#include "gui/gui_records.h"

namespace korvane::connector {
namespace {

QString confirmedLine(const QDateTime& at) {
    return at.isValid() ? "Confirmed " + at.toString("HH:mm:ss") : QString("Not confirmed yet");
}

CardView card(const CardFacts& facts, const QString& good) {
    if (facts.word == kCheckingWord) return {facts.word, CardTone::neutral, {}};
    if (!facts.problem.isEmpty()) {
        QString detail = facts.problem;
        if (facts.confirmedAt.isValid())
            detail += " · last confirmed " + facts.confirmedAt.toString("HH:mm:ss");
        return {"unknown", CardTone::unknown, detail};
    }
    return {facts.word, facts.word == good ? CardTone::good : CardTone::warning,
            confirmedLine(facts.confirmedAt)};
}

}  // namespace

StatusCards composeStatusCards(const CardFacts& connector, const CardFacts& server,
                               const CardFacts& binding) {
    StatusCards cards{card(connector, "ready"), card(server, "reachable"), card(binding, "authorized")};
    const bool relayDown = cards.server.word == "unreachable" || cards.server.tone == CardTone::unknown;
    if (!relayDown) return cards;
    // Without the relay nothing confirms the binding now, whatever was last heard.
    if (cards.binding.word == "authorized") {
        cards.binding = {"unknown", CardTone::unknown,
                         "The relay cannot be reached to confirm it · last confirmed " +
                             binding.confirmedAt.toString("HH:mm:ss")};
    }
    if (cards.connector.word == "ready") {
        cards.connector = {"offline", CardTone::warning, "Paired, but the relay cannot be reached"};
    }
    return cards;
}

}  // namespace korvane::connector
