#!/usr/bin/env bash
# Signs an update image with the publisher's Ed25519 private key. Run it on the machine that
# keeps the key offline; only the signature (and the public key) ever leave that machine.
#
#   scripts/sign-update.sh KEY VERSION IMAGE
#       prints the update's signature (Base64), the manifest's "ed25519" member
#   scripts/sign-update.sh --manifest VERSION URL KEY IMAGE
#       prints a whole manifest: version, dmgUrl, sha256 and ed25519
#   scripts/sign-update.sh --public-key KEY
#       prints the public key (Base64) to configure with -DKORVANE_UPDATE_PUBLIC_KEY=...
#
# The signature covers the text "korvane-connector-update:" + VERSION + ":" + the image's SHA-256
# (lowercase hex), so a signed image cannot be published under another version.
# KEY is a PEM private key made with: openssl genpkey -algorithm ed25519 -out KEY
# Needs OpenSSL 3 (`openssl`, or the program named by $OPENSSL).
set -euo pipefail

openssl=${OPENSSL:-openssl}
program=$(basename "$0")

usage() {
    echo "usage: $program KEY VERSION IMAGE" >&2
    echo "       $program --manifest VERSION URL KEY IMAGE" >&2
    echo "       $program --public-key KEY" >&2
    exit 2
}

fail() {
    echo "$program: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

require_openssl() {
    local version
    version=$("$openssl" version 2>/dev/null) || fail "cannot run '$openssl'; install OpenSSL 3 or set OPENSSL"
    # LibreSSL and OpenSSL 1.x cannot sign a file with Ed25519 from the command line.
    [[ $version =~ ^OpenSSL\ [3-9] ]] ||
        fail "needs OpenSSL 3 or newer, found '$version' (macOS: brew install openssl@3 and set OPENSSL)"
}

# Writes the key's public half to $work/public.der and stops unless it is an Ed25519 key.
load_public_key() {
    local key=$1
    [[ -r $key ]] || fail "cannot read the key file $key"
    "$openssl" pkey -in "$key" -pubout -outform DER -out "$work/public.der" 2>"$work/error" ||
        fail "cannot read the private key in $key: $(head -n 1 "$work/error")"
    local der
    der=$(od -An -v -tx1 "$work/public.der" | tr -d ' \n')
    # An Ed25519 SubjectPublicKeyInfo is this fixed 12-byte header and the 32-byte key.
    [[ ${#der} -eq 88 && $der == 302a300506032b6570032100* ]] ||
        fail "$key is not an Ed25519 key (make one with: openssl genpkey -algorithm ed25519 -out KEY)"
}

public_key_base64() {
    tail -c 32 "$work/public.der" | "$openssl" base64 -A
}

check_version() {
    [[ $1 =~ ^[0-9A-Za-z.+_-]{1,64}$ ]] || fail "the version must be 1 to 64 characters of 0-9 A-Z a-z . + _ -"
}

# Prints the image's SHA-256 as lowercase hex.
image_sha256() {
    local image=$1
    [[ -f $image && -r $image ]] || fail "cannot read the image $image"
    "$openssl" dgst -sha256 -r "$image" | cut -d ' ' -f 1
}

# Prints the Base64 signature of the update (version and image digest), after checking it
# against the public key.
signature_base64() {
    local key=$1 version=$2 image=$3 sha256
    sha256=$(image_sha256 "$image") || exit 1
    printf 'korvane-connector-update:%s:%s' "$version" "$sha256" >"$work/signed-text"
    "$openssl" pkeyutl -sign -inkey "$key" -rawin -in "$work/signed-text" -out "$work/signature" 2>"$work/error" ||
        fail "signing failed: $(head -n 1 "$work/error")"
    "$openssl" pkeyutl -verify -pubin -keyform DER -inkey "$work/public.der" -rawin -in "$work/signed-text" \
        -sigfile "$work/signature" >/dev/null 2>&1 || fail "the new signature does not verify; nothing printed"
    "$openssl" base64 -A -in "$work/signature"
}

# A manifest value goes into JSON as is, so it must need no escaping.
check_plain() {
    local what=$1 value=$2
    [[ -n $value && ! $value =~ [[:cntrl:][:space:]\"\\] ]] || fail "the $what must be non-empty, without quotes, backslashes or spaces"
}

case "${1:-}" in
    --public-key)
        [[ $# -eq 2 ]] || usage
        require_openssl
        load_public_key "$2"
        public_key_base64
        echo
        ;;
    --manifest)
        [[ $# -eq 5 ]] || usage
        version=$2 url=$3 key=$4 image=$5
        check_version "$version"
        check_plain URL "$url"
        [[ $url == https://* || $url == http://* ]] || fail "the URL must start with https://"
        require_openssl
        load_public_key "$key"
        signature=$(signature_base64 "$key" "$version" "$image")
        sha256=$(image_sha256 "$image")
        printf '{"version":"%s","dmgUrl":"%s","sha256":"%s","ed25519":"%s"}\n' "$version" "$url" "$sha256" "$signature"
        ;;
    -*)
        usage
        ;;
    *)
        [[ $# -eq 3 ]] || usage
        check_version "$2"
        require_openssl
        load_public_key "$1"
        signature_base64 "$1" "$2" "$3"
        echo
        ;;
esac
