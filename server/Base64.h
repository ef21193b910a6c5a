// Base64 of RFC 4648 (standard alphabet, "=" padding), for BIRD files sent by the update server.
#pragma once

#include <cstddef>

// Both return a new NUL-terminated buffer from malloc that the caller releases with free(), or
// nullptr; *outLength (when given) receives the number of bytes before the NUL.

// Trailing "\r", "\n", blanks and tabs are ignored. The rest must be a multiple of 4 characters
// of the alphabet, with "=" only as the padding of the last group; anything else gives nullptr.
// Reads exactly length characters of text (no terminator needed).
unsigned char* base64_decode(const char* text, size_t length, size_t* outLength);
// Pads with "=" to a multiple of 4 characters.
char* base64_encode(const unsigned char* bytes, size_t length, size_t* outLength);
