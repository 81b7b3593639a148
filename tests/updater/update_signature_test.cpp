#include "connector/updater/update_signature.h"

#include <gtest/gtest.h>

#include "connector/toolkit/digest.h"
#include "tests/updater/key_pair.h"

namespace korvane::connector {
namespace {

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

TEST(UpdateSignature, AcceptsOnlyThePublishersSignatureOfThisVersionAndDigest) {
    const KeyPair publisher;
    const KeyPair stranger;
    const std::string digest(64, 'a'), other_digest(64, 'b');
    EXPECT_EQ(update_signed_text("0.2.0", digest), "korvane-connector-update:0.2.0:" + digest);
    const std::string good = publisher.sign(update_signed_text("0.2.0", digest));
    const struct {
        const char* what;
        std::string version;
        std::string digest;
        std::string signature;
        std::string key;
        bool valid;
    } cases[] = {
        {"good", "0.2.0", digest, good, publisher.public_key, true},
        {"another version on the same image", "9.9.9", digest, good, publisher.public_key, false},
        {"another image", "0.2.0", other_digest, good, publisher.public_key, false},
        {"the image's bytes signed, not the text", "0.2.0", digest, publisher.sign("image"),
         publisher.public_key, false},
        {"signed by another key", "0.2.0", digest, stranger.sign(update_signed_text("0.2.0", digest)),
         publisher.public_key, false},
        {"checked under another key", "0.2.0", digest, good, stranger.public_key, false},
        {"empty signature", "0.2.0", digest, "", publisher.public_key, false},
        {"truncated signature", "0.2.0", digest, good.substr(0, 84), publisher.public_key, false},
        {"signature with a line end", "0.2.0", digest, good + "\n", publisher.public_key, false},
        {"signature not Base64", "0.2.0", digest, std::string(86, '!') + "==", publisher.public_key, false},
        {"key of 31 bytes", "0.2.0", digest, good, publisher.public_key.substr(1), false},
        {"no key", "0.2.0", digest, good, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(verify_update_signature(c.version, c.digest, c.signature, c.key), c.valid) << c.what;
    }
}

TEST(UpdateSignature, StreamedDigestIsTheSha256OfTheWholeInput) {
    Sha256Stream empty;
    EXPECT_EQ(empty.hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    Sha256Stream pieces;
    pieces.add("a");
    pieces.add("bc");
    EXPECT_EQ(pieces.hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace korvane::connector
