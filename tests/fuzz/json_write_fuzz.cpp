// What the connector writes must always be JSON, whatever bytes a reply or an operand held:
// json_string and JsonObject give valid JSON that reads back as the text (bad UTF-8 as U+FFFD),
// and json_escape leaves no control character.
// Input: up to four lines, the pieces of one object; the whole input is also one string.

#include "connector/toolkit/json.h"
#include "connector/toolkit/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

// Returns true when `text` is well-formed UTF-8, as the JSON library judges it.
bool is_utf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::exception&) {
        return false;
    }
}

// Returns the string json_string writes for `text`, read back.
std::string string_read_back(std::string_view text) {
    const std::string quoted = json_string(text);
    FUZZ_CHECK(is_json_value(quoted));
    const std::optional<Json> value = parse_json(quoted);
    FUZZ_CHECK(value.has_value() && value->is_string());
    return value->get<std::string>();
}

void check_string(const std::string& text) {
    const std::string read_back = string_read_back(text);
    if (is_utf8(text)) FUZZ_CHECK(read_back == text);
    FUZZ_CHECK(is_utf8(read_back));

    const std::string escaped = json_escape(text);
    for (char c : escaped) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
    if (is_utf8(text)) FUZZ_CHECK(parse_json("\"" + escaped + "\"") == Json(text));
}

void check_object(const std::vector<std::string>& pieces, bool flag) {
    const std::string object = JsonObject()
                                   .add(pieces[0], pieces[1])
                                   .add("flag", flag)
                                   .add_raw("raw", json_string(pieces[2]))
                                   .add("last", pieces[3].c_str())
                                   .str();
    FUZZ_CHECK(is_json_value(object));
    const std::optional<Json> value = parse_json(object);
    FUZZ_CHECK(value.has_value() && value->is_object());
    const std::string first_key = string_read_back(pieces[0]);
    // A fuzzed name may repeat a fixed one; then the later member wins and the count drops.
    if (first_key == "flag" || first_key == "raw" || first_key == "last") return;
    FUZZ_CHECK(value->size() == 4);
    FUZZ_CHECK(value->at(first_key) == string_read_back(pieces[1]));
    FUZZ_CHECK(value->at("flag") == flag);
    FUZZ_CHECK(value->at("raw") == string_read_back(pieces[2]));
    FUZZ_CHECK(value->at("last") == string_read_back(pieces[3].c_str()));
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = korvane::connector::fuzz_text(data, size);
    korvane::connector::check_string(std::string(text));
    korvane::connector::check_object(korvane::connector::fuzz_pieces(text, 4), size % 2 == 1);
    return 0;
}
