#include "connector/app/update_output.h"

#include "connector/toolkit/json.h"

namespace korvane::connector {
namespace {

// The manifest as an answer's member: nested as it came when it is JSON, else as a string, so
// the answer is JSON either way.
std::string manifest_member(const std::string& text) {
    return is_json_value(text) ? text : json_string(text);
}

std::string render_refusal(const UpdateOutcome& outcome) {
    JsonObject answer;
    answer.add("status", "error").add("reason", outcome.reason);
    const std::string& reason = outcome.reason;
    if (reason == "manifest_invalid") {
        answer.add("manifest_url", outcome.manifest_url)
            .add_raw("manifest", manifest_member(outcome.manifest_text));
    } else if (reason == "update_check_failed" || reason == "manifest_fetch_failed" ||
               reason == "update_manifest_invalid") {
        answer.add("manifest_url", outcome.manifest_url);
    } else if (reason == "update_file_missing") {
        answer.add("updates_dir", outcome.updates_dir);
    } else if (!outcome.file.empty()) {
        answer.add("file", outcome.file);
    } else {
        answer.add("latest_version", outcome.latest_version).add("dmg_url", outcome.dmg_url);
    }
    return answer.str();
}

}  // namespace

std::string render_update_outcome(const UpdateOutcome& outcome) {
    switch (outcome.kind) {
        case UpdateOutcome::Kind::refused: return render_refusal(outcome);
        case UpdateOutcome::Kind::checked:
            return JsonObject()
                .add("status", "ok")
                .add("current_version", outcome.current_version)
                .add("latest_version", outcome.latest_version)
                .add("update_available", outcome.update_available)
                .add("channel", outcome.channel)
                .add("manifest_url", outcome.manifest_url)
                .add("dmg_url", outcome.dmg_url)
                .add_raw("manifest", manifest_member(outcome.manifest_text))
                .add("signed_updates", outcome.signed_updates)
                .str();
        case UpdateOutcome::Kind::already_latest:
            return JsonObject()
                .add("status", "ok")
                .add("current_version", outcome.current_version)
                .add("latest_version", outcome.latest_version)
                .add("update_available", false)
                .add("note", "already_on_latest_version")
                .str();
        case UpdateOutcome::Kind::downloaded:
            return JsonObject()
                .add("status", "ok")
                .add("current_version", outcome.current_version)
                .add("latest_version", outcome.latest_version)
                .add("update_available", true)
                .add("downloaded", true)
                .add("downloaded_to", outcome.downloaded_to)
                .add("latest_file", outcome.latest_file)
                .add("dmg_url", outcome.dmg_url)
                .str();
        case UpdateOutcome::Kind::opened:
            return JsonObject()
                .add("status", "ok")
                .add("applied", false)
                .add("install_flow_started", true)
                .add("file", outcome.file)
                .add("note", "dmg_opened_drag_updated_app_into_Applications")
                .str();
    }
    return render_refusal(outcome);
}

}  // namespace korvane::connector
