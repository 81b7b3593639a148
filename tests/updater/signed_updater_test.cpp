#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "connector/app/update_output.h"
#include "connector/toolkit/digest.h"
#include "connector/updater/update_signature.h"
#include "connector/updater/updater.h"
#include "tests/updater/key_pair.h"

namespace korvane::connector {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestUrl = "https://downloads.test/current/manifest.json";
constexpr const char* kImageUrl = "https://downloads.test/K-0.2.0.dmg";

std::string sha256_hex(const std::string& bytes) {
    Sha256Stream digest;
    digest.add(bytes);
    return digest.hex();
}

// Returns what the publisher's tool makes for `image` published as `version`.
std::string update_signature(const KeyPair& key, const std::string& image,
                             const std::string& version = "0.2.0") {
    return key.sign(update_signed_text(version, sha256_hex(image)));
}

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

    // Publishes version 0.2.0 serving `served_image`, with `signature` as its "ed25519" member
    // (none when null) and `sha256` as its digest (the served image's when null, none when empty).
    void publish(const std::string& served_image, const char* signature, const char* sha256 = nullptr) {
        image = served_image;
        const std::string digest = sha256 != nullptr ? sha256 : sha256_hex(served_image);
        manifest = std::string(R"({"version":"0.2.0","dmgUrl":")") + kImageUrl + "\"";
        if (!digest.empty()) manifest += R"(,"sha256":")" + digest + "\"";
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

TEST_F(SignedUpdates, DownloadKeepsOnlyImagesThePublisherSignedForThisVersion) {
    const std::string image = "signed disk image";
    const std::string flipped = "signed disk imagf";
    const std::string good = update_signature(publisher, image);
    const std::string image_digest = sha256_hex(image);
    const auto refusal = [](const char* reason) {
        return std::string(R"({"status":"error","reason":")") + reason +
               R"(","latest_version":"0.2.0","dmg_url":")" + kImageUrl + "\"}";
    };
    const struct {
        const char* what;
        std::string served;
        std::optional<std::string> signature;
        std::optional<std::string> sha256;  // nullopt: the served image's; empty: none
        std::string key;
        const char* refused;  // null: installs
        bool fetched;
    } cases[] = {
        {"good signature", image, good, std::nullopt, publisher.public_base64(), nullptr, true},
        {"flipped byte in the image", flipped, good, image_digest, publisher.public_base64(),
         "update_checksum_mismatch", true},
        {"flipped image with its own digest", flipped, good, std::nullopt, publisher.public_base64(),
         "update_signature_invalid", true},
        {"signature of another image", image, update_signature(publisher, "another image"), std::nullopt,
         publisher.public_base64(), "update_signature_invalid", true},
        {"older image put under a newer version", image, update_signature(publisher, image, "0.0.9"),
         std::nullopt, publisher.public_base64(), "update_signature_invalid", true},
        {"the image's bytes signed alone", image, publisher.sign(image), std::nullopt,
         publisher.public_base64(), "update_signature_invalid", true},
        {"missing signature", image, std::nullopt, std::nullopt, publisher.public_base64(),
         "update_signature_invalid", false},
        {"missing digest", image, good, std::string(), publisher.public_base64(), "update_signature_invalid",
         false},
        {"signature not Base64", image, "not a signature", std::nullopt, publisher.public_base64(),
         "update_signature_invalid", true},
        {"wrong key", image, update_signature(stranger, image), std::nullopt, publisher.public_base64(),
         "update_signature_invalid", true},
        {"built-in key that does not decode", image, good, std::nullopt, "abc", "update_signature_invalid",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.publish(c.served, c.signature ? c.signature->c_str() : nullptr,
                     c.sha256 ? c.sha256->c_str() : nullptr);
        host.urls.clear();
        const std::string answer = render_update_outcome(updater(c.key).download());
        if (c.refused != nullptr) {
            EXPECT_EQ(answer, refusal(c.refused));
            EXPECT_EQ(update_files(), std::set<std::string>{});
            // Without a signature and a digest nothing is worth fetching.
            EXPECT_EQ(host.urls.size(), c.fetched ? 2u : 1u);
            continue;
        }
        EXPECT_NE(answer.find(R"("status":"ok")"), std::string::npos) << answer;
        EXPECT_EQ(update_files(), (std::set<std::string>{
                                      "Korvane-Connector-0.2.0.dmg", "Korvane-Connector-0.2.0.dmg.sig",
                                      "Korvane-Connector-latest.dmg", "Korvane-Connector-latest.dmg.sig"}));
        EXPECT_EQ(read(updates() / "Korvane-Connector-latest.dmg"), image);
        EXPECT_EQ(read(updates() / "Korvane-Connector-latest.dmg.sig"),
                  "version=0.2.0\nsha256=" + image_digest + "\ned25519=" + good + "\n");
    }
}

TEST_F(SignedUpdates, WithoutKeyUpdatesStayUnsigned) {
    for (const char* signature : {static_cast<const char*>(nullptr), "not a signature"}) {
        host.publish("unsigned image", signature);
        const Updater unkeyed = updater("");
        EXPECT_NE(render_update_outcome(unkeyed.download()).find(R"("status":"ok")"), std::string::npos);
        EXPECT_EQ(update_files(),
                  (std::set<std::string>{"Korvane-Connector-0.2.0.dmg", "Korvane-Connector-latest.dmg"}));
        EXPECT_NE(render_update_outcome(unkeyed.apply()).find(R"("status":"ok")"), std::string::npos)
            << "not opened";
    }
}

TEST_F(SignedUpdates, ApplyChecksTheImageAgainAndHandsOverTheCheckedCopy) {
    const std::string image = "signed disk image";
    host.publish(image, update_signature(publisher, image).c_str());
    Updater keyed = updater(publisher.public_base64());
    ASSERT_NE(render_update_outcome(keyed.download()).find(R"("status":"ok")"), std::string::npos);
    const fs::path latest = updates() / "Korvane-Connector-latest.dmg";
    const std::string refused =
        R"({"status":"error","reason":"update_signature_invalid","file":")" + latest.string() + "\"}";

    std::ofstream(latest, std::ios::binary) << "swapped on disk";
    EXPECT_EQ(render_update_outcome(keyed.apply()), refused);
    fs::copy_file(updates() / "Korvane-Connector-0.2.0.dmg", latest, fs::copy_options::overwrite_existing);
    fs::remove(updates() / "Korvane-Connector-latest.dmg.sig");
    EXPECT_EQ(render_update_outcome(keyed.apply()), refused) << "signature gone";
    std::ofstream(updates() / "Korvane-Connector-latest.dmg.sig") << std::string(3000, 'A');
    EXPECT_EQ(render_update_outcome(keyed.apply()), refused) << "far too long to be a signature";
    EXPECT_EQ(opened(), "");

    // Without the latest copy the versioned image, checked against its own signature, is
    // handed over as a private copy.
    fs::remove(latest);
    const std::string answer = render_update_outcome(keyed.apply());
    EXPECT_NE(answer.find(R"("status":"ok")"), std::string::npos) << answer;
    const std::string handed = opened().substr(3, opened().size() - 4);
    EXPECT_EQ(fs::path(handed).filename(), "Korvane-Connector-0.2.0.dmg");
    EXPECT_EQ(fs::path(handed).parent_path().parent_path(), updates());
    EXPECT_EQ(fs::status(fs::path(handed).parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(read(handed), image);

    // With a key the latest copy stands in only for the newest version on disk.
    const std::string newer = "newer signed image";
    std::ofstream(updates() / "Korvane-Connector-0.3.0.dmg", std::ios::binary) << newer;
    std::ofstream(updates() / "Korvane-Connector-0.3.0.dmg.sig")
        << "version=0.3.0\nsha256=" << sha256_hex(newer)
        << "\ned25519=" << update_signature(publisher, newer, "0.3.0") << "\n";
    fs::copy_file(updates() / "Korvane-Connector-0.2.0.dmg", latest);
    fs::copy_file(updates() / "Korvane-Connector-0.2.0.dmg.sig",
                  updates() / "Korvane-Connector-latest.dmg.sig", fs::copy_options::overwrite_existing);
    EXPECT_NE(render_update_outcome(keyed.apply()).find("Korvane-Connector-0.3.0.dmg"), std::string::npos);

    // A signed image no newer than the running version is never opened.
    fs::remove_all(updates());
    fs::create_directories(updates());
    const std::string old_image = "old signed image";
    std::ofstream(updates() / "Korvane-Connector-0.0.9.dmg", std::ios::binary) << old_image;
    std::ofstream(updates() / "Korvane-Connector-0.0.9.dmg.sig")
        << "version=0.0.9\nsha256=" << sha256_hex(old_image)
        << "\ned25519=" << update_signature(publisher, old_image, "0.0.9") << "\n";
    EXPECT_EQ(render_update_outcome(keyed.apply()),
              R"({"status":"error","reason":"update_not_newer","file":")" +
                  (updates() / "Korvane-Connector-0.0.9.dmg").string() + "\"}");
}

TEST_F(SignedUpdates, ApplyPicksTheNewestImageByVersionOrder) {
    const Updater unkeyed = updater("");
    for (const char* name :
         {"Korvane-Connector-0.2.dmg", "Korvane-Connector-0.10.dmg", "Korvane-Connector-0.9.1.dmg"}) {
        std::ofstream(updates() / name) << name;
    }
    const std::string answer = render_update_outcome(unkeyed.apply());
    EXPECT_NE(answer.find("Korvane-Connector-0.10.dmg"), std::string::npos) << answer;
    EXPECT_NE(opened().find("/Korvane-Connector-0.10.dmg\n"), std::string::npos) << opened();
}

}  // namespace
}  // namespace korvane::connector
