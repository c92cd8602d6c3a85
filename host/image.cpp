#include "host/image.h"

#include <algorithm>
#include <cstring>

namespace host {

image::image(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * height_ * 3, 0) {}

bool clip_copy(int source_w, int source_h, int target_w, int target_h, int& sx, int& sy, int& w,
               int& h, int& dx, int& dy) {
    if (sx < 0) { w += sx; dx -= sx; sx = 0; }
    if (sy < 0) { h += sy; dy -= sy; sy = 0; }
    if (dx < 0) { w += dx; sx -= dx; dx = 0; }
    if (dy < 0) { h += dy; sy -= dy; dy = 0; }
    w = std::min({w, source_w - sx, target_w - dx});
    h = std::min({h, source_h - sy, target_h - dy});
    return w > 0 && h > 0;
}

void image::copy_from(const image& source, int sx, int sy, int w, int h, int dx, int dy) {
    if (!clip_copy(source.width_, source.height_, width_, height_, sx, sy, w, h, dx, dy)) return;
    for (int y = 0; y < h; ++y)
        std::memcpy(row(dy + y) + dx * 3, source.row(sy + y) + sx * 3, static_cast<size_t>(w) * 3);
}

void image::fill(uint8_t r, uint8_t g, uint8_t b) {
    for (size_t i = 0; i + 2 < pixels_.size(); i += 3) {
        pixels_[i] = r;
        pixels_[i + 1] = g;
        pixels_[i + 2] = b;
    }
}

uint32_t image::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const uint8_t* p = row(y) + x * 3;
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

namespace {
uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

image load_bmp(const uint8_t* data, size_t size) {
    // A .bmp file starts with its 14-byte file header, which gives the pixels' offset; a
    // bitmap resource is the bare device-independent bitmap, whose pixels follow the info
    // header (and the colour table, empty for 24 bits unless it names a count).
    if (data == nullptr) return {};
    const bool file = size >= 14 && data[0] == 'B' && data[1] == 'M';
    const uint8_t* info = file ? data + 14 : data;
    const size_t info_size = file ? size - 14 : size;
    if (info_size < 40) return {};
    const uint32_t header = le32(info);
    if (header != 40 && header != 108 && header != 124) return {};
    if (header > info_size) return {};
    const int32_t width = static_cast<int32_t>(le32(info + 4));
    const int32_t raw_height = static_cast<int32_t>(le32(info + 8));
    if (le16(info + 14) != 24 || le32(info + 16) != 0) return {};
    if (width <= 0 || width > 8192 || raw_height == 0 || raw_height < -8192 || raw_height > 8192) return {};
    const uint32_t colours = le32(info + 32);
    if (colours > 256) return {};
    const size_t offset = file ? le32(data + 10) : header + static_cast<size_t>(colours) * 4;
    const bool bottom_up = raw_height > 0;
    const int height = bottom_up ? raw_height : -raw_height;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    if (offset > size || stride * height > size - offset) return {};
    image out(width, height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = data + offset + stride * (bottom_up ? height - 1 - y : y);
        uint8_t* dst = out.row(y);
        for (int x = 0; x < width; ++x) {
            dst[x * 3] = src[x * 3 + 2];
            dst[x * 3 + 1] = src[x * 3 + 1];
            dst[x * 3 + 2] = src[x * 3];
        }
    }
    return out;
}

region::region(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), inside_(static_cast<size_t>(width_) * height_, 1) {}

void region::xor_pixel(int x, int y) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) inside_[static_cast<size_t>(y) * width_ + x] ^= 1;
}

bool region::contains(int x, int y) const {
    return x >= 0 && y >= 0 && x < width_ && y < height_ && inside_[static_cast<size_t>(y) * width_ + x];
}

size_t region::pixel_count() const { return static_cast<size_t>(std::count(inside_.begin(), inside_.end(), 1)); }

}  // namespace host
