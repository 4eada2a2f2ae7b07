#pragma once

#include <string>
#include <vector>

// A JPEG with the full colour detail (no chroma subsampling, 4:4:4), which
// Ghostscript's own JPEG device cannot write: it always halves it.
namespace JpegEncoding {

// Encodes the binary PPM (P6, 8 bits) at `ppm`, as Ghostscript's ppmraw
// device writes it, into `jpeg` with the given quality (0 to 100, 0 the
// lowest), optimised Huffman tables and the resolution in its density field.
// The PPM is read as untrusted: a header that does not match the file's size
// is refused. Returns "" or why not.
std::string encodePpm(const std::string &ppm, int quality, double dotsPerInch, std::vector<unsigned char> &jpeg);

} // namespace JpegEncoding
