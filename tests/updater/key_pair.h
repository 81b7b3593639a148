#pragma once

#include <gtest/gtest.h>
#include <sodium.h>

#include <string>

#include "connector/toolkit/digest.h"

namespace korvane::connector {

// An Ed25519 key pair made for one test, as the publisher's would be.
struct KeyPair {
    KeyPair() {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(reinterpret_cast<unsigned char*>(public_key.data()),
                            reinterpret_cast<unsigned char*>(secret_key.data()));
    }

    // Returns the Base64 signature of `message`, as a manifest carries it.
    std::string sign(const std::string& message) const {
        std::string signature(crypto_sign_BYTES, '\0');
        crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                             reinterpret_cast<const unsigned char*>(secret_key.data()));
        return base64_encode(signature);
    }

    // Returns the public key as Base64, as the build takes it.
    std::string public_base64() const { return base64_encode(public_key); }

    std::string public_key = std::string(crypto_sign_PUBLICKEYBYTES, '\0');
    std::string secret_key = std::string(crypto_sign_SECRETKEYBYTES, '\0');
};

}  // namespace korvane::connector
