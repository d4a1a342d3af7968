// Playlist text: the encoding test and the Windows-1252 to UTF-8 conversion.
// A playlist that starts with the UTF-8 signature is UTF-8; any other is
// Windows-1252. There is no other detection.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace m3umerge {

inline constexpr unsigned char kUtf8Signature[] = {0xEF, 0xBB, 0xBF};

// True exactly when `bytes` starts with EF BB BF.
bool has_utf8_signature(std::span<const unsigned char> bytes);

// The most UTF-8 bytes that one Windows-1252 byte can become.
inline constexpr std::size_t kMaxUtf8BytesPerByte = 3;

// Converts Windows-1252 text to UTF-8, up to (not including) the first zero
// byte: everything from a zero byte on is dropped. Every byte maps to one
// code point and none is rejected: 00-7F and A0-FF stand for themselves,
// 80-9F follow the Windows-1252 table, and the five positions it leaves empty
// (81, 8D, 8F, 90, 9D) stand for the C1 controls of the same value.
std::string windows1252_to_utf8(std::span<const unsigned char> bytes);

// The same conversion into `utf8`, which must have room for
// kMaxUtf8BytesPerByte * bytes.size() bytes; returns the number written.
std::size_t windows1252_to_utf8(std::span<const unsigned char> bytes, char* utf8);

}  // namespace m3umerge
