// Checks of an image file's header made before the decoder opens it.
//
// Some decoders reserve memory for what a header declares (an attribute's
// length, a table of chunk offsets, a block of user data) before they read
// anything that could show the header is false, so a file of a few bytes can
// make them claim gigabytes. For those formats the header is walked here and
// a declaration that the file cannot hold, or an image beyond the size
// limit, is refused with a reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace standin {

// The size limit, as the reader applies it: empty when width x height is
// allowed, else the reason.
using SizeCheck = std::function<std::string(uint64_t width, uint64_t height)>;

// Empty when the file is not of a checked format (OpenEXR, DPX, PNG, GIF) or its
// header is sound; else the reason it is refused ("damaged EXR header", ...).
std::string CheckImageHeader(const std::string& path, const SizeCheck& checkSize);

}  // namespace standin
