#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "connector/updater/updater.h"
#include "tests/updater/key_pair.h"

namespace korvane::connector {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestUrl = "https://downloads.test/current/manifest.json";
constexpr const char* kImageUrl = "https://downloads.test/K-0.2.0.dmg";

// The download host: the manifest, and the image written into the request's output file as
// the real client streams it.
class UpdateHost : public HttpClient {
  public:
    HttpResult send(const HttpRequest& request) override {
        urls.push_back(request.url);
        if (request.url == kManifestUrl) return {0, manifest, 200};
        if (request.url == kImageUrl && !request.output_path.empty()) {
            std::ofstream(request.output_path, std::ios::binary) << image;
            return {0, "", 200};
        }
        return http_failure(7, "Failed to connect to " + request.url);
    }

    // Publishes version 0.2.0 with `signature` as its "ed25519" member (none when null).
    void publish(const std::string& served_image, const char* signature) {
        image = served_image;
        manifest = std::string(R"({"version":"0.2.0","dmgUrl":")") + kImageUrl + "\"";
        if (signature != nullptr) manifest += std::string(R"(,"ed25519":")") + signature + "\"";
        manifest += "}";
    }

    std::string manifest;
    std::string image;
    std::vector<std::string> urls;
};

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SignedUpdates : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("korvane-signed-updates-" + std::to_string(::getpid()));
        fs::remove_all(root);
        // A stand-in for the desktop's `open`, so apply can run to its end.
        fs::create_directories(root / "bin");
        std::ofstream(root / "bin" / "open") << "#!/bin/sh\necho \"$@\" >> \"$0.log\"\n";
        fs::permissions(root / "bin" / "open", fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        saved_path = path != nullptr ? path : "";
        ::setenv("PATH", (root / "bin").c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", saved_path.c_str(), 1);
        fs::remove_all(root);
    }

    // Returns a fresh application root's updater.
    Updater updater(const std::string& key) {
        fs::remove_all(root / "app");
        return Updater((root / "app").string(), kManifestUrl, "0.1.0", host, key);
    }

    std::set<std::string> update_files() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(root / "app" / "updates")) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    fs::path updates() const { return root / "app" / "updates"; }
    std::string opened() const { return read(root / "bin" / "open.log"); }

    UpdateHost host;
    fs::path root;
    std::string saved_path;
    const KeyPair publisher;
    const KeyPair stranger;
};

TEST_F(SignedUpdates, DownloadKeepsOnlyImagesThePublisherSigned) {
    const std::string image = "signed disk image";
    const std::string flipped = "signed disk imagf";
    const std::string good = publisher.sign(image);
    const std::string refused = std::string(R"({"status":"error","reason":"update_signature_invalid",)") +
                                R"("latest_version":"0.2.0","dmg_url":")" + kImageUrl + "\"}";
    const struct {
        const char* what;
        std::string served;
        std::optional<std::string> signature;
        std::string key;
        bool installs;
    } cases[] = {
        {"good signature", image, good, publisher.public_base64(), true},
        {"flipped byte in the image", flipped, good, publisher.public_base64(), false},
        {"signature of another image", image, publisher.sign("another image"), publisher.public_base64(),
         false},
        {"missing signature", image, std::nullopt, publisher.public_base64(), false},
        {"signature not Base64", image, "not a signature", publisher.public_base64(), false},
        {"wrong key", image, stranger.sign(image), publisher.public_base64(), false},
        {"built-in key that does not decode", image, good, "abc", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.publish(c.served, c.signature ? c.signature->c_str() : nullptr);
        host.urls.clear();
        const std::string answer = updater(c.key).download();
        if (!c.installs) {
            EXPECT_EQ(answer, refused);
            EXPECT_EQ(update_files(), std::set<std::string>{});
            // Without a signature nothing is worth fetching.
            if (!c.signature) {
                EXPECT_EQ(host.urls, std::vector<std::string>{kManifestUrl});
            }
            continue;
        }
        EXPECT_NE(answer.find(R"("status":"ok")"), std::string::npos) << answer;
        EXPECT_EQ(update_files(), (std::set<std::string>{
                                      "Korvane-Connector-0.2.0.dmg", "Korvane-Connector-0.2.0.dmg.sig",
                                      "Korvane-Connector-latest.dmg", "Korvane-Connector-latest.dmg.sig"}));
        EXPECT_EQ(read(updates() / "Korvane-Connector-latest.dmg"), image);
        EXPECT_EQ(read(updates() / "Korvane-Connector-latest.dmg.sig"), good + "\n");
    }
}

TEST_F(SignedUpdates, WithoutKeyUpdatesStayUnsigned) {
    for (const char* signature : {static_cast<const char*>(nullptr), "not a signature"}) {
        host.publish("unsigned image", signature);
        const Updater unkeyed = updater("");
        EXPECT_NE(unkeyed.download().find(R"("status":"ok")"), std::string::npos);
        EXPECT_EQ(update_files(),
                  (std::set<std::string>{"Korvane-Connector-0.2.0.dmg", "Korvane-Connector-latest.dmg"}));
        EXPECT_NE(unkeyed.apply().find(R"("status":"ok")"), std::string::npos) << "not opened";
    }
}

TEST_F(SignedUpdates, ApplyChecksTheImageAgainBeforeOpeningIt) {
    const std::string image = "signed disk image";
    host.publish(image, publisher.sign(image).c_str());
    Updater keyed = updater(publisher.public_base64());
    ASSERT_NE(keyed.download().find(R"("status":"ok")"), std::string::npos);
    const fs::path latest = updates() / "Korvane-Connector-latest.dmg";
    const std::string refused =
        R"({"status":"error","reason":"update_signature_invalid","file":")" + latest.string() + "\"}";

    std::ofstream(latest, std::ios::binary) << "swapped on disk";
    EXPECT_EQ(keyed.apply(), refused);
    fs::copy_file(updates() / "Korvane-Connector-0.2.0.dmg", latest, fs::copy_options::overwrite_existing);
    fs::remove(updates() / "Korvane-Connector-latest.dmg.sig");
    EXPECT_EQ(keyed.apply(), refused) << "signature gone";
    std::ofstream(updates() / "Korvane-Connector-latest.dmg.sig") << std::string(300, 'A');
    EXPECT_EQ(keyed.apply(), refused) << "far too long to be a signature";
    EXPECT_EQ(opened(), "");

    // Without the latest copy the versioned image, checked against its own signature, is opened.
    fs::remove(latest);
    const std::string answer = keyed.apply();
    EXPECT_NE(answer.find(R"("status":"ok")"), std::string::npos) << answer;
    EXPECT_EQ(opened(), "-- " + (updates() / "Korvane-Connector-0.2.0.dmg").string() + "\n");
}

}  // namespace
}  // namespace korvane::connector
