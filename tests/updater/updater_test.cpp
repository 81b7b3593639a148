#include "connector/updater/updater.h"
#include "connector/app/update_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "connector/state/files.h"
#include "connector/toolkit/digest.h"
#include "tests/support/fakes.h"
#include "tests/support/temporary_folder.h"

namespace korvane::connector {
namespace {

const std::string kManifestUrl = "https://downloads.test/current/manifest.json";

class UpdaterTest : public ::testing::Test {
  protected:
    // Returns the files left in the updates folder, sorted.
    std::vector<std::string> updates() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root.path("updates"))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TemporaryFolder root;
    FakeHttpClient http;
    Updater updater{root.path(), kManifestUrl, "1.0.0", http};
};

TEST_F(UpdaterTest, CheckFollowsTheManifestRules) {
    const std::string url = R"("manifest_url":"https://downloads.test/current/manifest.json")";
    const struct {
        HttpResult manifest;
        std::string answer;
    } cases[] = {
        {http_failure(22, "The requested URL returned error: 404"),
         R"({"status":"error","reason":"update_check_failed",)" + url + "}"},
        {{0, "", 200}, R"({"status":"error","reason":"update_check_failed",)" + url + "}"},
        {{0, R"({"version":"1.1.0","dmgUrl":"https://downloads.test/K-1.1.0.dmg","channel":"stable"})", 200},
         R"({"status":"ok","current_version":"1.0.0","latest_version":"1.1.0","update_available":true,)"
         R"("channel":"stable",)" +
             url +
             R"(,"dmg_url":"https://downloads.test/K-1.1.0.dmg","manifest":{"version":"1.1.0",)"
             R"("dmgUrl":"https://downloads.test/K-1.1.0.dmg","channel":"stable"},"signed_updates":false})"},
        {{0, R"({"release":{"version":"1.0","dmgUrl":"http://127.0.0.1:8080/K.dmg"}})", 200},
         R"({"status":"ok","current_version":"1.0.0","latest_version":"1.0","update_available":false,"channel":"",)" +
             url +
             R"(,"dmg_url":"http://127.0.0.1:8080/K.dmg","manifest":{"release":{"version":"1.0",)"
             R"("dmgUrl":"http://127.0.0.1:8080/K.dmg"}},"signed_updates":false})"},
        {{0, R"({"version":"1.1.0","dmgUrl":""})", 200},
         R"({"status":"error","reason":"manifest_invalid",)" + url +
             R"(,"manifest":{"version":"1.1.0","dmgUrl":""}})"},
        {{0, "version=\"1.1.0\"\n", 200},
         R"({"status":"error","reason":"manifest_invalid",)" + url + R"(,"manifest":"version=\"1.1.0\"\n"})"},
        {{0, R"({"version":"../../1.1","dmgUrl":"https://downloads.test/K.dmg"})", 200},
         R"({"status":"error","reason":"update_manifest_invalid",)" + url + "}"},
        {{0, R"({"version":"1.1.0","dmgUrl":"file:///etc/passwd"})", 200},
         R"({"status":"error","reason":"update_url_rejected","latest_version":"1.1.0","dmg_url":"file:///etc/passwd"})"},
    };
    for (const auto& c : cases) {
        http.queue(c.manifest);
        EXPECT_EQ(render_update_outcome(updater.check()), c.answer) << c.manifest.body;
    }
    ASSERT_FALSE(http.sent.empty());
    const HttpRequest& sent = http.sent[0];
    EXPECT_EQ(sent.url, kManifestUrl);
    EXPECT_EQ(sent.timeout_ms, 20000);
    EXPECT_EQ(sent.max_reply_bytes, kMaxManifestBytes);
    EXPECT_TRUE(sent.fail_on_http_error);
    EXPECT_FALSE(sent.follow_redirects);
}

TEST_F(UpdaterTest, DownloadKeepsOnlyAWholeImageThatMatchesItsChecksum) {
    const std::string image = "disk image bytes";
    const std::string digest = sha256_hex(image);
    const std::string manifest = R"({"version":"1.1.0","dmgUrl":"https://downloads.test/K.dmg")";
    const std::string target = root.path("updates/Korvane-Connector-1.1.0.dmg");
    const std::string latest = root.path("updates/Korvane-Connector-latest.dmg");
    const std::string failed = R"(,"latest_version":"1.1.0","dmg_url":"https://downloads.test/K.dmg"})";
    const struct {
        std::string manifest;
        HttpResult download;
        bool partial_left_by_transport;
        std::string answer;
    } cases[] = {
        {manifest + "}", http_failure(28, "Operation timed out"), true,
         R"({"status":"error","reason":"update_download_failed")" + failed},
        {manifest + R"(,"sha256":")" + std::string(64, '0') + "\"}",
         {0, image, 200},
         false,
         R"({"status":"error","reason":"update_checksum_mismatch")" + failed},
        {manifest + R"(,"sha256":")" + digest + "\"}",
         {0, image, 200},
         false,
         R"({"status":"ok","current_version":"1.0.0","latest_version":"1.1.0","update_available":true,)"
         R"("downloaded":true,"downloaded_to":")" +
             target + R"(","latest_file":")" + latest + R"(","dmg_url":"https://downloads.test/K.dmg"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.manifest);
        http.sent.clear();
        http.respond = [&](const HttpRequest& request) {
            if (request.url == kManifestUrl) return HttpResult{0, c.manifest, 200};
            // A transfer cut short leaves what had arrived in its file.
            if (c.partial_left_by_transport) write_file_atomic(request.output_path, "disk im", 0600);
            return c.download;
        };
        EXPECT_EQ(render_update_outcome(updater.download()), c.answer);
        ASSERT_EQ(http.sent.size(), 2u);
        const HttpRequest& sent = http.sent[1];
        EXPECT_EQ(sent.url, "https://downloads.test/K.dmg");
        EXPECT_EQ(sent.output_path.rfind(target + ".partial-", 0), 0u) << sent.output_path;
        EXPECT_TRUE(sent.follow_redirects && sent.fail_on_http_error);
        // Each hop is held to the rule the manifest's URL met.
        EXPECT_TRUE(sent.redirect_allowed != nullptr && sent.redirect_allowed("https://mirror.test/K.dmg") &&
                    !sent.redirect_allowed("file:///etc/passwd") &&
                    !sent.redirect_allowed("http://127.1/K.dmg"));
        EXPECT_EQ(sent.timeout_ms, 300000);
        EXPECT_EQ(sent.max_reply_bytes, kMaxImageBytes);
    }
    // Only the last, good download is kept: no partial file, no image from the failed ones.
    EXPECT_EQ(updates(),
              (std::vector<std::string>{"Korvane-Connector-1.1.0.dmg", "Korvane-Connector-latest.dmg"}));
    EXPECT_EQ(read_file(target), image);
    EXPECT_EQ(read_file(latest), image);
}

TEST_F(UpdaterTest, DownloadFetchesNothingWithoutANewerVersion) {
    http.queue(R"({"version":"1.0.0","dmgUrl":"https://downloads.test/K.dmg"})");
    EXPECT_EQ(render_update_outcome(updater.download()),
              R"({"status":"ok","current_version":"1.0.0","latest_version":"1.0.0","update_available":false,)"
              R"("note":"already_on_latest_version"})");
    http.queue(http_failure(7, "refused"));
    EXPECT_EQ(
        render_update_outcome(updater.download()),
        R"({"status":"error","reason":"manifest_fetch_failed","manifest_url":")" + kManifestUrl + "\"}");
    EXPECT_EQ(http.sent.size(), 2u);
    EXPECT_TRUE(updates().empty());
}

TEST_F(UpdaterTest, ApplyWithoutAnImageSaysWhereItLooked) {
    EXPECT_EQ(
        render_update_outcome(updater.apply()),
        R"({"status":"error","reason":"update_file_missing","updates_dir":")" + root.path("updates") + "\"}");
    // A half-downloaded file is never taken for an image.
    write_file_atomic(root.path("updates/Korvane-Connector-2.0.dmg.partial-0a1b2c3d"), "half", 0600);
    EXPECT_NE(render_update_outcome(updater.apply()).find("update_file_missing"), std::string::npos);
}

}  // namespace
}  // namespace korvane::connector
