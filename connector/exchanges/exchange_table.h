#pragma once

#include <string_view>
#include <vector>

namespace korvane::connector {

class ExchangeAdapter;

// One exchange the connector knows of.
struct ExchangeEntry {
    std::string_view name;
    const ExchangeAdapter* adapter = nullptr;  // null: known by name only, no live work
    bool listed = true;                        // in the registry's list (credentials, "status")
};

// Returns the one table of exchanges, in the order "status" and "capabilities" print them: the
// six live exchanges, the five known by name, and one that only the capability table names.
// Adding an exchange is one adapter file and one row here.
const std::vector<ExchangeEntry>& exchange_table();

// Returns the adapter of `name` (exact, case-sensitive); null for any other text, so a name the
// table does not know never reaches an adapter.
const ExchangeAdapter* find_adapter(std::string_view name);

}  // namespace korvane::connector
