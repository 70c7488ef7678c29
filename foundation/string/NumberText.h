// Number text: decimal, hexadecimal and floating-point forms of numbers, as used by the
// message formatter and by CMutableString::AssignNumber.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Bravik {

// The caller buffer of every *ToText function holds this many bytes.
constexpr size_t kNumberTextBufferSize = 256;

// Each *ToText function builds ASCII text and writes it into `buffer` in `encoding` (0 UTF-8,
// 1 UTF-16, anything else UTF-32; one code unit per character), followed by a terminator.
// Returns the bytes written without the terminator. Returns 0 and writes nothing when `buffer`
// is null, or when the text and its terminator would not fit kNumberTextBufferSize bytes
// (only doubles of 60 digits and more can be that long).
size_t UnsignedToText(uint64_t value, void* buffer, uint32_t encoding);
size_t SignedToText(int64_t value, void* buffer, uint32_t encoding);
// "0x" and upper-case digits without leading zeros; 0 is "0x0".
size_t HexToText(uint64_t value, void* buffer, uint32_t encoding);
// Truncated, never rounded: the integer part, ".", then fraction digits until the digits
// written reach the value within 1e-6 (7 digits at most). "Inf", "-Inf", "NaN".
size_t FloatToText(float value, void* buffer, uint32_t encoding);
// As FloatToText with a limit of 1e-15 and 17 fraction digits at most.
size_t DoubleToText(double value, void* buffer, uint32_t encoding);

// Room for the longest ASCII text of any number, terminator included: a double's integer
// part has up to 309 digits.
constexpr size_t kNumberAsciiCapacity = 320;

// The same texts in ASCII, into `text` of kNumberAsciiCapacity chars, zero-terminated;
// each returns the length without the terminator.
size_t UnsignedToAscii(uint64_t value, char* text);
size_t SignedToAscii(int64_t value, char* text);
size_t HexToAscii(uint64_t value, char* text);
size_t FloatToAscii(float value, char* text);
size_t DoubleToAscii(double value, char* text);

}  // namespace Bravik
