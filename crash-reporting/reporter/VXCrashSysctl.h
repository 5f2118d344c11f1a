#pragma once

#include <cstddef>

// Kernel values by their dotted sysctl name ("kernel.osrelease"), read from
// /proc/sys. Ordinary context only.

// A newly allocated (malloc) copy of the value without its trailing newline,
// or null with errno kept.
char* vxcrash_sysctl_string(const char* name);

// True when the value was read and is an integer.
bool vxcrash_sysctl_int(const char* name, int* result);

// Length of the longest prefix of `text` that is valid UTF-8, stopping at a
// NUL byte (and at `limit` bytes for the _max form). A leading byte-order mark
// counts as valid.
size_t vxcrash_sysctl_valid_utf8_bytes(const char* text);
size_t vxcrash_sysctl_valid_utf8_bytes_max(const char* text, size_t limit);
