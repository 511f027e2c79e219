#include "image/OctreeQuantizer.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace rendova {

namespace {

uint32_t read32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

uint16_t read16(const uint8_t* p) {
    uint16_t value;
    std::memcpy(&value, p, 2);
    return value;
}

// The leaf colours a palette of fewer than 16 colours is made from.
constexpr uint32_t kSmallPaletteLeaves = 16;

}  // namespace

OctreeQuantizer::OctreeQuantizer(uint32_t wantedColours, int32_t colourBits)
    : m_leafLimit(wantedColours > 16 ? wantedColours : 16),
      m_wantedColours(wantedColours),
      m_colourBits(uint32_t(colourBits) >= 8 ? 8 : colourBits) {}

OctreeQuantizer::~OctreeQuantizer() {
    freeNode(m_root);
}

void OctreeQuantizer::freeNode(Node* node) {
    if (node == nullptr)
        return;
    // The tree is at most nine levels deep, so the recursion is bounded.
    for (Node* child : node->children)
        freeNode(child);
    std::free(node);
}

OctreeQuantizer::Node* OctreeQuantizer::addColour(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    Node** slot = &m_root;
    for (int32_t level = 0;; ++level) {
        if (*slot == nullptr) {
            auto* node = static_cast<Node*>(std::calloc(1, sizeof(Node)));
            if (node == nullptr)
                return nullptr;
            if (level == m_colourBits) {
                node->isLeaf = true;
                ++m_leafCount;
            } else {
                node->nextReducible = m_reducible[level];
                m_reducible[level] = node;
            }
            *slot = node;
        }
        Node* node = *slot;
        if (node->isLeaf) {
            ++node->pixelCount;
            node->redSum += red;
            node->greenSum += green;
            node->blueSum += blue;
            node->alphaSum += alpha;
            return node;
        }
        // One bit of each channel, from the top, picks the child.
        const int shift = 7 - level;
        const int child = ((red >> shift) & 1) << 2 | ((green >> shift) & 1) << 1 | ((blue >> shift) & 1);
        slot = &node->children[child];
    }
}

void OctreeQuantizer::reduceTree() {
    // The deepest level above the leaves that still has an inner node; the
    // children of its newest node are all leaves, since every node of the
    // level below has already been folded.
    int32_t level = m_colourBits - 1;
    while (level > 0 && m_reducible[level] == nullptr)
        --level;
    if (level < 0)
        return;
    Node* node = m_reducible[level];
    if (node == nullptr)
        return;
    m_reducible[level] = node->nextReducible;
    uint32_t merged = 0;
    for (Node*& child : node->children) {
        if (child == nullptr)
            continue;
        assert(child->isLeaf);
        node->pixelCount += child->pixelCount;
        node->redSum += child->redSum;
        node->greenSum += child->greenSum;
        node->blueSum += child->blueSum;
        node->alphaSum += child->alphaSum;
        freeNode(child);
        child = nullptr;
        ++merged;
    }
    node->isLeaf = true;
    m_leafCount = m_leafCount + 1 - merged;
}

int32_t OctreeQuantizer::processImage(const uint8_t* dib) {
    if (dib == nullptr)
        return 0;
    const uint32_t headerSize = read32(dib);
    const auto width = int32_t(read32(dib + 4));
    const auto storedHeight = int32_t(read32(dib + 8));
    const uint32_t bits = read16(dib + 14);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return 0;
    // A palette bitmap that leaves its colour count 0 has all 2^bits entries.
    uint32_t colours = read32(dib + 32);
    if (colours == 0 && bits <= 8)
        colours = 1u << bits;
    if (bits == 24)
        colours = 0;

    const int64_t height = storedHeight < 0 ? -int64_t(storedHeight) : storedHeight;
    const size_t stride = size_t(((int64_t(width) * bits + 31) / 32) * 4);
    // The palette follows the header, whatever its size; its entries are
    // stored blue, green, red, reserved.
    const uint8_t* palette = dib + headerSize;
    const uint8_t* rows = palette + 4 * size_t(colours);

    // Runs of one colour (most of a page) reach the same leaf again until a
    // reduction changes the tree, so the last leaf is kept for them.
    Node* lastLeaf = nullptr;
    uint32_t lastKey = 0;
    auto add = [&](uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
        const uint32_t key =
            uint32_t(red) | uint32_t(green) << 8 | uint32_t(blue) << 16 | uint32_t(alpha) << 24;
        if (lastLeaf != nullptr && key == lastKey) {
            ++lastLeaf->pixelCount;
            lastLeaf->redSum += red;
            lastLeaf->greenSum += green;
            lastLeaf->blueSum += blue;
            lastLeaf->alphaSum += alpha;
            return;
        }
        lastLeaf = addColour(red, green, blue, alpha);
        lastKey = key;
        while (m_leafCount > m_leafLimit) {
            reduceTree();
            lastLeaf = nullptr;
        }
    };

    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = rows + size_t(y) * stride;
        if (bits == 24) {
            for (int32_t x = 0; x < width; ++x, row += 3)
                add(row[2], row[1], row[0], 0);
            continue;
        }
        for (int32_t x = 0; x < width; ++x) {
            uint32_t index;
            if (bits == 8)
                index = row[x];
            else if (bits == 4)
                index = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
            else
                index = (row[x >> 3] >> (7 - (x & 7))) & 1;
            // An index past the palette reads as black rather than past the table.
            static constexpr uint8_t kBlack[4] = {0, 0, 0, 0};
            const uint8_t* entry = index < colours ? palette + 4 * size_t(index) : kBlack;
            add(entry[2], entry[1], entry[0], entry[3]);
        }
    }
    return 1;
}

template <class Visit>
void OctreeQuantizer::visitLeaves(const Node* node, Visit& visit) {
    if (node == nullptr)
        return;
    if (node->isLeaf) {
        visit(*node);
        return;
    }
    for (const Node* child : node->children)
        visitLeaves(child, visit);
}

void OctreeQuantizer::getPalette(RgbQuad* destination) const {
    if (destination == nullptr)
        return;
    auto average = [](uint64_t sum, uint64_t count) { return uint8_t(count != 0 ? sum / count : 0); };
    if (m_wantedColours > 15) {
        uint32_t written = 0;
        auto write = [&](const Node& leaf) {
            destination[written++] =
                RgbQuad{average(leaf.blueSum, leaf.pixelCount), average(leaf.greenSum, leaf.pixelCount),
                        average(leaf.redSum, leaf.pixelCount), average(leaf.alphaSum, leaf.pixelCount)};
        };
        visitLeaves(m_root, write);
        return;
    }

    // Few colours: at most 16 leaves, merged into the wanted count by runs of
    // neighbours in tree order.
    RgbQuad colours[kSmallPaletteLeaves];
    uint64_t counts[kSmallPaletteLeaves];
    uint32_t leaves = 0;
    auto collect = [&](const Node& leaf) {
        if (leaves == kSmallPaletteLeaves)
            return;
        colours[leaves] =
            RgbQuad{average(leaf.blueSum, leaf.pixelCount), average(leaf.greenSum, leaf.pixelCount),
                    average(leaf.redSum, leaf.pixelCount), average(leaf.alphaSum, leaf.pixelCount)};
        counts[leaves] = leaf.pixelCount;
        ++leaves;
    };
    visitLeaves(m_root, collect);
    if (m_wantedColours >= leaves) {
        for (uint32_t i = 0; i < leaves; ++i)
            destination[i] = colours[i];
        return;
    }
    for (uint32_t c = 0; c < m_wantedColours; ++c) {
        const uint32_t first = c * leaves / m_wantedColours;
        const uint32_t end = (c + 1) * leaves / m_wantedColours;
        uint64_t total = 0, blue = 0, green = 0, red = 0, alpha = 0;
        for (uint32_t i = first; i < end; ++i) {
            total += counts[i];
            blue += uint64_t(colours[i].blue) * counts[i];
            green += uint64_t(colours[i].green) * counts[i];
            red += uint64_t(colours[i].red) * counts[i];
            alpha += uint64_t(colours[i].reserved) * counts[i];
        }
        destination[c] =
            RgbQuad{average(blue, total), average(green, total), average(red, total), average(alpha, total)};
    }
}

}  // namespace rendova
