// Exchange, relay and manifest replies are read with parse_json: it must agree with
// is_json_value, give a value that writes and reads back the same, and find_string_member must
// only ever return a string some member of that name holds.
// Input: a member name on the first line, the document after it.

#include "connector/toolkit/json.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

// Returns true when some member named `key`, anywhere in `value`, is the string `wanted`, or
// (with `wanted` empty) any non-empty string.
bool holds_member(const Json& value, const std::string& key, const std::string& wanted) {
    if (value.is_object()) {
        for (const auto& [name, member] : value.items()) {
            if (name == key && member.is_string()) {
                const std::string& text = member.get_ref<const std::string&>();
                if (wanted.empty() ? !text.empty() : text == wanted) return true;
            }
            if (holds_member(member, key, wanted)) return true;
        }
    } else if (value.is_array()) {
        for (const Json& element : value) {
            if (holds_member(element, key, wanted)) return true;
        }
    }
    return false;
}

void check_document(const std::string& key, const std::string& document) {
    const std::optional<Json> value = parse_json(document);
    FUZZ_CHECK(value.has_value() == is_json_value(document));
    // White space around a value changes nothing.
    FUZZ_CHECK(parse_json(" \n\t" + document + "\r\n ").has_value() == value.has_value());
    if (!value) return;

    // Our own writing of what we read is JSON again, and stable after one round.
    const std::string written = value->dump();
    FUZZ_CHECK(is_json_value(written));
    const std::optional<Json> reread = parse_json(written);
    FUZZ_CHECK(reread.has_value() && reread->dump() == written);

    const std::string found = find_string_member(*value, key);
    FUZZ_CHECK(found.empty() ? !holds_member(*value, key, "") : holds_member(*value, key, found));
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto pieces = korvane::connector::fuzz_pieces(korvane::connector::fuzz_text(data, size), 2);
    korvane::connector::check_document(pieces[0], pieces[1]);
    return 0;
}
