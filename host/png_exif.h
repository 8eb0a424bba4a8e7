// The PNG writer of our image library keeps only string-valued EXIF, as
// text chunks: exposure, aperture, ISO and GPS would be lost. This adds the
// whole EXIF block as an eXIf chunk, which the reader decodes again.
#pragma once

#include <OpenImageIO/imageio.h>

#include <string>

namespace standin {

// Inserts an eXIf chunk holding spec's EXIF, TIFF and GPS tags into the PNG
// file at path, before its first image data chunk. Nothing is changed when
// the spec has no such tags or the file already has an eXIf chunk. False,
// with the reason, when the file is not a well-formed PNG or cannot be
// rewritten.
bool AddPngExif(const std::string& path, const OIIO::ImageSpec& spec, std::string& reason);

}  // namespace standin
