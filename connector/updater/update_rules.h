#pragma once

#include <string_view>

namespace korvane::connector {

// Returns true for an image URL an update may come from: absolute https://, or http:// to this
// machine (127.0.0.0/8, localhost, [::1]) for local testing; no user info, no white space or
// control characters. Anything else could read local files or be taken for a tool's option.
bool is_allowed_image_url(std::string_view url);

// Returns true for a version that may become part of a file name: 1 to 64 characters from
// [0-9A-Za-z.+_-].
bool is_safe_version(std::string_view version);

}  // namespace korvane::connector
