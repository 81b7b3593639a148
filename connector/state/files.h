#pragma once

#include <sys/types.h>
#include <string>

namespace korvane::connector {

// What write_file_atomic puts between a file's name and the random suffix of its temporary file.
inline constexpr const char* kTemporaryMark = ".tmp-";

// Returns the whole file as text; empty when it cannot be opened.
std::string read_file(const std::string& path);

// Replaces `path` with `content` atomically: a temporary file in the same folder, created with
// `mode`, is written and renamed over `path`. Readers see the old or the new file, never a torn
// one. Returns false (and leaves `path` untouched) when any step fails.
bool write_file_atomic(const std::string& path, const std::string& content, mode_t mode);

// Appends `content` to `path` in one write, creating it with `mode`. Returns false on failure.
bool append_file(const std::string& path, const std::string& content, mode_t mode);

// Creates `path` with all missing parents; the last folder gets mode 0700 so only the owner
// can list or enter it. An existing `path` must be a folder (not a symbolic link) owned by this
// user; its mode is set to 0700. Returns an empty string on success, else what went wrong.
std::string make_private_directory(const std::string& path);

// Returns `exchange` with every "/", backslash and space replaced by "_": the name its files in
// the vault folder carry.
std::string sanitized_exchange_name(const std::string& exchange);

}  // namespace korvane::connector
