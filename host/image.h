#pragma once
// Drawing surfaces of the dialog host: 24-bit pictures, the canvas a window paints into, and
// window shapes. Portable; the GTK host turns them into cairo operations, the Win32 host into
// GDI bitmaps and regions.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace host {

class image;

// Something a picture can be copied into (a window's drawing context, or a memory picture).
class canvas {
public:
    virtual ~canvas() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Copies the w x h block at (sx, sy) of `source` to (dx, dy); clipped on both sides.
    virtual void copy_from(const image& source, int sx, int sy, int w, int h, int dx, int dy) = 0;
};

// Clips a copy of the w x h block at (sx, sy) of a source_w x source_h picture to (dx, dy) of a
// target_w x target_h one, against the source and then the target; false when nothing is left.
bool clip_copy(int source_w, int source_h, int target_w, int target_h, int& sx, int& sy, int& w,
               int& h, int& dx, int& dy);

// A 24-bit RGB picture in memory.
class image : public canvas {
public:
    image() = default;
    image(int width, int height);
    int width() const override { return width_; }
    int height() const override { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }
    void copy_from(const image& source, int sx, int sy, int w, int h, int dx, int dy) override;
    void fill(uint8_t r, uint8_t g, uint8_t b);
    uint32_t pixel(int x, int y) const;  // 0xRRGGBB; 0 outside
    const uint8_t* row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_ * 3; }
    uint8_t* row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_ * 3; }
    bool operator==(const image& other) const {
        return width_ == other.width_ && height_ == other.height_ && pixels_ == other.pixels_;
    }

private:
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> pixels_;
};

// Reads an uncompressed 24-bit BMP, as a file (with its file header) or as a bitmap resource
// (the bare device-independent bitmap); an empty picture when the bytes are not one.
image load_bmp(const uint8_t* data, size_t size);

// A window shape: which pixels of a width x height area belong to the window.
class region {
public:
    region() = default;
    region(int width, int height);  // the whole rectangle
    void xor_pixel(int x, int y);
    bool contains(int x, int y) const;
    int width() const { return width_; }
    int height() const { return height_; }
    size_t pixel_count() const;

private:
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> inside_;
};

}  // namespace host
