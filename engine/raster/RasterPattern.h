#pragma once

#include <cstdint>

namespace rendova {

// The colour source that fills and strokes paint with. A pattern belongs to
// the rasteriser state that holds it; copy() hands a new one to its caller.
// Patterns are not thread-safe and do not throw apart from copy().
class RasterPattern {
public:
    RasterPattern() = default;
    RasterPattern(const RasterPattern&) = delete;
    RasterPattern& operator=(const RasterPattern&) = delete;

    // A new pattern of the same kind and colour, owned by the caller.
    virtual RasterPattern* copy() const = 0;
    virtual ~RasterPattern() = default;
    // Writes the three colour bytes for device pixel (x, y).
    virtual void getColor(int x, int y, uint8_t* out) const = 0;
    // Non-zero when the colour does not depend on the position, so that
    // callers fetch it once per operation.
    virtual int isStatic() const = 0;
};

// One colour everywhere: red, green, blue (grey modes use the first byte).
class RasterSolidColor : public RasterPattern {
public:
    explicit RasterSolidColor(const uint8_t* color);

    RasterPattern* copy() const override;
    void getColor(int x, int y, uint8_t* out) const override;
    int isStatic() const override { return 1; }

private:
    uint8_t m_color[3];
};

}  // namespace rendova
