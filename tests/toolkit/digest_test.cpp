#include "connector/toolkit/digest.h"

#include <gtest/gtest.h>

#include <string>

#include "connector/toolkit/run_program.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// FIPS 180-4 example messages.
TEST(Sha, MatchesPublishedVectors) {
    const std::string two_block = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex(two_block), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha512_hex("abc"),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(sha512_hex(""),
              "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
              "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e");
    EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// RFC 4231 test cases 1, 2 and 6 (a key longer than the block).
TEST(Hmac, MatchesRfc4231) {
    const std::string key1(20, '\x0b');
    EXPECT_EQ(hmac_sha256_hex(key1, "Hi There"),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(hmac_sha512_hex(key1, "Hi There"),
              "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
              "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854");
    EXPECT_EQ(hmac_sha256_hex("Jefe", "what do ya want for nothing?"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    const std::string long_key(131, '\xaa');
    EXPECT_EQ(hmac_sha256_hex(long_key, "Test Using Larger Than Block-Size Key - Hash Key First"),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(hmac_sha512_hex(long_key, "Test Using Larger Than Block-Size Key - Hash Key First"),
              "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
              "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598");
}

// RFC 4648 section 10.
TEST(Base64, MatchesRfc4648) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"", ""},
                 {"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="},
                 {"fooba", "Zm9vYmE="},
                 {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) EXPECT_EQ(base64_encode(c.in), c.out) << c.in;
}

// The in-process digests must give exactly what the openssl pipelines give.
TEST(Digests, AgreeWithTheOpensslCommand) {
    const std::string secret = "s3cr'et\\%\"";
    const std::string messages[] = {"", "GET\n/api/v4/futures/usdt/accounts\n\nabc\n1700000000",
                                    "1700000000000key5000{\"a\":\"b c\"}", "percent %s and it's \\n",
                                    std::string(300, 'z')};
    // The message and the secret reach the pipeline as the shell's positional arguments, never
    // as part of its script.
    auto pipe = [&](const std::string& message, const std::string& tools) {
        return trim(run_program({"sh", "-c", "printf %s \"$1\" | " + tools, "sh", message, secret}).output);
    };
    for (const std::string& message : messages) {
        EXPECT_EQ(hmac_sha256_hex(secret, message),
                  pipe(message, "openssl dgst -sha256 -hmac \"$2\" -binary | xxd -p -c 256"));
        EXPECT_EQ(hmac_sha512_hex(secret, message),
                  pipe(message, "openssl dgst -sha512 -hmac \"$2\" -binary | xxd -p -c 512"));
        EXPECT_EQ(hmac_sha256_base64(secret, message),
                  pipe(message, "openssl dgst -sha256 -hmac \"$2\" -binary | openssl base64 -A"));
        EXPECT_EQ(sha512_hex(message), pipe(message, "openssl dgst -sha512 -binary | xxd -p -c 512"));
        EXPECT_EQ(sha256_hex(message), pipe(message, "openssl dgst -sha256 -binary | xxd -p -c 256"));
    }
}

}  // namespace
}  // namespace korvane::connector
