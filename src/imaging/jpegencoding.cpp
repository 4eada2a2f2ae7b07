#include "jpegencoding.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include <jpeglib.h>

namespace JpegEncoding {

namespace {

// As large as a JPEG may be in either direction.
constexpr unsigned long LargestSide = JPEG_MAX_DIMENSION;

struct Closer
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, Closer>;

// libjpeg's errors end the program by default; here they end the encoding.
struct ErrorManager
{
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info)
{
    auto *errors = reinterpret_cast<ErrorManager *>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->back, 1);
}

// One number of the header, after white space and comments.
bool headerNumber(std::FILE *file, unsigned long &value)
{
    int c = std::fgetc(file);
    for (;;) {
        if (c == '#') {
            while (c != '\n' && c != EOF)
                c = std::fgetc(file);
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            c = std::fgetc(file);
        } else {
            break;
        }
    }
    value = 0;
    int digits = 0;
    for (; c >= '0' && c <= '9' && digits < 9; ++digits, c = std::fgetc(file))
        value = value * 10 + unsigned(c - '0');
    // One white-space character ends a number; after the last, the pixels begin.
    return digits > 0 && (c == ' ' || c == '\t' || c == '\n' || c == '\r');
}

// Everything that may jump back out of libjpeg, with nothing to destroy.
bool compress(jpeg_compress_struct &info, std::FILE *file, unsigned char *row, std::vector<unsigned char> &jpeg)
{
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        if (std::fread(row, 3, info.image_width, file) != info.image_width) {
            jpeg_abort_compress(&info);
            std::free(buffer);
            return false;
        }
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg.assign(buffer, buffer + size);
    std::free(buffer);
    return true;
}

} // namespace

std::string encodePpm(const std::string &ppm, int quality, double dotsPerInch, std::vector<unsigned char> &jpeg)
{
    std::error_code error;
    const auto fileSize = std::filesystem::file_size(ppm, error);
    const File file(error ? nullptr : std::fopen(ppm.c_str(), "rb"));
    if (!file)
        return "the page " + ppm + " cannot be read";
    unsigned long width = 0, height = 0, depth = 0;
    const bool header = std::fgetc(file.get()) == 'P' && std::fgetc(file.get()) == '6'
                        && headerNumber(file.get(), width) && headerNumber(file.get(), height)
                        && headerNumber(file.get(), depth);
    const long start = std::ftell(file.get());
    if (!header || depth != 255 || width == 0 || height == 0 || width > LargestSide || height > LargestSide || start < 0
        || fileSize != (unsigned long long)start + 3ULL * width * height)
        return "the page " + ppm + " is no image of the size it claims";

    std::vector<unsigned char> row(3 * width);
    jpeg_compress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = onError;
    if (setjmp(errors.back)) {
        jpeg_destroy_compress(&info);
        return std::string("the page could not be encoded: ") + errors.message;
    }
    jpeg_create_compress(&info);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality < 1 ? 1 : quality, TRUE);
    for (int component = 0; component < info.num_components; ++component)
        info.comp_info[component].h_samp_factor = info.comp_info[component].v_samp_factor = 1;
    info.optimize_coding = TRUE;
    info.density_unit = 1; // dots per inch
    const auto density = JDIMENSION(dotsPerInch + 0.5);
    info.X_density = info.Y_density = UINT16(density < 1 ? 1 : density > 65535 ? 65535 : density);
    const bool complete = compress(info, file.get(), row.data(), jpeg);
    jpeg_destroy_compress(&info);
    return complete ? std::string() : "the page " + ppm + " ends before its last row";
}

} // namespace JpegEncoding
