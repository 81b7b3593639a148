#include "connector/updater/update_signature.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "connector/toolkit/digest.h"
#include "tests/updater/key_pair.h"

namespace korvane::connector {
namespace {

namespace fs = std::filesystem;

class SignatureFile : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("korvane-signature-" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string write(const std::string& name, const std::string& content) {
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path folder;
};

TEST(UpdatePublicKey, DecodesOnlyCanonicalBase64OfThirtyTwoBytes) {
    const std::string zeros(43, 'A');
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {zeros + "=", true},
        {std::string(42, '/') + "8=", true},
        {zeros, false},                        // padding missing
        {zeros + "=\n", false},                // anything after it
        {" " + zeros + "=", false},            // anything before it
        {std::string(42, 'A') + "B=", false},  // unused bits set: not canonical
        {std::string(48, 'A'), false},         // 36 bytes
        {std::string(40, 'A') + "AA==", false},
        {std::string(42, '-') + "A=", false},  // URL-safe alphabet
        {"", false},
    };
    for (const auto& c : cases) {
        const auto key = decode_update_public_key(c.text);
        EXPECT_EQ(key.has_value(), c.valid) << "[" << c.text << "]";
        if (key) {
            EXPECT_EQ(base64_encode(*key), c.text);
        }
    }
}

TEST_F(SignatureFile, AcceptsOnlyTheSignatureOfTheseBytesUnderThisKey) {
    const KeyPair publisher;
    const KeyPair stranger;
    const std::string image = std::string("disk image \x00\x01\xff", 14) + std::string(100000, 'x');
    const std::string path = write("image.dmg", image);
    std::string flipped = image;
    flipped[5] ^= 0x01;
    const std::string good = publisher.sign(image);
    const struct {
        const char* what;
        std::string signature;
        std::string key;
        bool valid;
    } cases[] = {
        {"good", good, publisher.public_key, true},
        {"signature of a flipped byte", publisher.sign(flipped), publisher.public_key, false},
        {"signature of another image", publisher.sign("another image"), publisher.public_key, false},
        {"signed by another key", stranger.sign(image), publisher.public_key, false},
        {"checked under another key", good, stranger.public_key, false},
        {"empty signature", "", publisher.public_key, false},
        {"truncated signature", good.substr(0, 84), publisher.public_key, false},
        {"signature with a line end", good + "\n", publisher.public_key, false},
        {"signature not Base64", std::string(86, '!') + "==", publisher.public_key, false},
        {"key of 31 bytes", good, publisher.public_key.substr(1), false},
        {"no key", good, "", false},
    };
    for (const auto& c : cases) EXPECT_EQ(verify_file_signature(path, c.signature, c.key), c.valid) << c.what;

    write("image.dmg", flipped);
    EXPECT_FALSE(verify_file_signature(path, good, publisher.public_key)) << "flipped on disk";
    EXPECT_FALSE(verify_file_signature((folder / "missing.dmg").string(), good, publisher.public_key));
    EXPECT_FALSE(verify_file_signature(folder.string(), good, publisher.public_key)) << "a folder";
    // An empty image is signed like any other.
    EXPECT_TRUE(verify_file_signature(write("empty.dmg", ""), publisher.sign(""), publisher.public_key));
}

}  // namespace
}  // namespace korvane::connector
