#pragma once

#include <cstdint>

#include "image/RasterImage.h"

namespace rendova {

// Computes a palette of at most a wanted number of colours for a packed
// device-independent bitmap with an octree: every pixel's colour descends one
// level per bit from the top, the leaves collect sums of the colours that reach
// them, and whenever the leaves outnumber the limit the newest inner node of
// the deepest level is folded into a leaf. The palette is the leaves' average
// colours in tree order.
//
// One quantizer serves one image: construct, processImage, getPalette, destroy
// (adding a second image adds to the same tree). Owns its nodes; not
// thread-safe; does not throw (a node that cannot be allocated is not created
// and its colour is not counted).
class OctreeQuantizer {
public:
    // `colourBits` is the depth of the tree, 1..8 (8 or more, as unsigned,
    // become 8). The leaf limit is the wanted count, but at least 16.
    OctreeQuantizer(uint32_t wantedColours, int32_t colourBits);
    ~OctreeQuantizer();
    OctreeQuantizer(const OctreeQuantizer&) = delete;
    OctreeQuantizer& operator=(const OctreeQuantizer&) = delete;

    // Adds the pixels of a packed bitmap (info header, palette, rows stored as
    // the header says) of 1, 4, 8 or 24 bits per pixel. 1 when they were
    // added, 0 (and nothing added) for any other bit count. The caller
    // guarantees that the block holds the header, palette and rows it declares.
    int32_t processImage(const uint8_t* dib);
    // Writes the palette as blue, green, red, alpha entries: one per leaf when
    // more than 15 colours are wanted, else at most the wanted count. Entries
    // beyond those written are left as they are.
    void getPalette(RgbQuad* destination) const;

    uint32_t leafCount() const { return m_leafCount; }

private:
    static constexpr int kLevels = 9;

    struct Node {
        bool isLeaf;
        // Sums are 64-bit: a large page's pixel count times 255 does not fit 32 bits.
        uint64_t pixelCount;
        uint64_t redSum;
        uint64_t greenSum;
        uint64_t blueSum;
        uint64_t alphaSum;
        Node* children[8];
        Node* nextReducible;
    };

    Node* addColour(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);
    void reduceTree();
    static void freeNode(Node* node);
    template <class Visit>
    static void visitLeaves(const Node* node, Visit& visit);

    Node* m_root = nullptr;
    uint32_t m_leafCount = 0;
    Node* m_reducible[kLevels] = {};
    uint32_t m_leafLimit = 16;
    uint32_t m_wantedColours = 0;
    int32_t m_colourBits = 8;
};

}  // namespace rendova
