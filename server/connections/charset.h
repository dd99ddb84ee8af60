// Code page 437, the board's own character set, and UTF-8, which most terminals speak today.
// The code page's upper half is taken from the C library's converter once, at first use.
#pragma once

#include <cstddef>
#include <cstdint>

// The UTF-8 form of one code page byte into out; returns its length (1 to 3). Bytes below 0x80
// (controls included) stay as they are.
uint32_t cp437ToUtf8(uint8_t byte, char out[3]);
// How many continuation bytes follow a UTF-8 lead byte: 0 for ASCII and for a byte that can
// start no sequence.
uint32_t utf8Continuations(uint8_t lead);
// The code page byte for one whole sequence (lead and continuations, as utf8Continuations
// says); '?' for an overlong form or a character the code page lacks.
uint8_t cp437FromUtf8(const uint8_t* sequence, uint32_t length);
// A whole UTF-8 string in code page 437, cut to fit out (outSize > 0); a malformed sequence
// gives '?'. For text that arrives in one piece, such as a password from an SSH client.
void utf8ToCp437(const char* in, char* out, size_t outSize);
