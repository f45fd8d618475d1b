// Reading one asset file (the track, a picture) whole into memory without ever waiting
// on it: only regular files are read, never more than a stated bound, and a file that
// cannot be used gets a true reason for the demo's one stderr line. No globals.
#pragma once
#include <cstddef>
#include <string>

// Largest asset read, bytes: 64 MiB holds more than half an hour of 256 kbit/s MP3 and
// any picture the JPEG decoder accepts; anything larger is refused unread.
constexpr size_t ASSET_MAX_BYTES = size_t(64) << 20;

// Reads the file at `path` whole. Refuses, without reading, whatever is not a regular
// file (a folder, a named pipe, a device, a socket: none of them can make the caller
// wait) and a file over `maxBytes`. Returns a block of `size` bytes (one zero byte
// follows them, so an empty file gives a valid block) to be freed with delete[]; on
// failure returns null with `reason` set to a few words ("is a folder", "larger than
// 64 MiB (3.00 GiB); not read", the system's text for a failed open or read).
unsigned char* readAssetFile(const char* path, size_t maxBytes, size_t& size, std::string& reason);

// "64 MiB", "3.00 GiB", "812 bytes": a size for messages.
std::string describeBytes(unsigned long long bytes);
