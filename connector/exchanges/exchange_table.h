#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "connector/exchanges/exchange_sites.h"

namespace korvane::connector {

class ExchangeAdapter;

// What one order quantity counts on an exchange: coins of the contract's base currency, or whole
// contracts (lots) of the exchange's contract size.
enum class QuantityUnit { base_coin, contracts };

// Returns "base_coin" or "contracts".
const char* to_string(QuantityUnit unit);

// Which operations the connector offers for one exchange.
struct ExchangeCapabilities {
    bool validate = false;
    bool balance = false;
    bool position = false;
    bool funding = false;
    bool close_report = false;
    bool open = false;
    bool close = false;
    bool cancel = false;
    bool status = false;
    bool leverage_sync = false;
    bool margin_mode_sync = false;
};

// Every operation: what an exchange with an adapter offers.
constexpr ExchangeCapabilities kAllCapabilities{true, true, true, true, true, true,
                                                true, true, true, true, true};

// One exchange, whole: everything the rest of the program needs to know about it. What is
// particular to talking to it (signing, paths, bodies, codes) is its adapter's.
struct ExchangeEntry {
    const char* name = "";          // the command-line name, in lower case
    const char* display_name = "";  // the exchange's own spelling, for people
    bool passphrase = false;        // its keys come with a passphrase
    std::span<const ExchangeSite> sites;  // its hosts; the first is where a new key is tried first
    // Where its demo-trading keys work (empty: it offers none), and the header that marks a demo
    // request on hosts that serve both (null: none needed).
    std::span<const ExchangeSite> demo_sites;
    const char* demo_header = nullptr;
    // Its instrument name for a contract name such as BTC_USDT.
    std::string (*native_symbol)(const std::string& symbol) = nullptr;
    QuantityUnit quantity_unit = QuantityUnit::base_coin;
    ExchangeCapabilities capabilities;
    const ExchangeAdapter* adapter = nullptr;  // null: known by name only, no live work
    bool listed = true;                        // in the registry's list (credentials, "status")
};

// Returns the one table of exchanges, in the order "status", "capabilities" and "exchanges"
// print them: the six live exchanges, the five known by name, and one that only the capability
// table names. Adding an exchange is one adapter file and one row here.
const std::vector<ExchangeEntry>& exchange_table();

// Returns the row of `name` (exact, case-sensitive); null for any other text.
const ExchangeEntry* find_exchange(std::string_view name);

// Returns the adapter of `name`; null for a name the table does not know or knows by name only,
// so such a name never reaches an adapter.
const ExchangeAdapter* find_adapter(std::string_view name);

// Returns the hosts a credential in `environment` ("demo", or empty for live trading) uses.
std::span<const ExchangeSite> sites_for(const ExchangeEntry& entry, const std::string& environment);

// Returns the names of the exchanges with an adapter, in table order, joined by `separator`.
std::string live_exchange_names(std::string_view separator);

}  // namespace korvane::connector
