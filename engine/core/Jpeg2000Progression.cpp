// The JPEG 2000 decoder's packet order (T.800 B.12): the five progressions
// over layers, resolutions, components and precinct positions, and the
// progression changes of POC markers, each packet read once.
#include <algorithm>
#include <climits>
#include <tuple>

#include "engine/core/ErrorReport.h"
#include "engine/core/Jpeg2000Decoder.h"

namespace rendova {

namespace {

// Precinct visits of the progressions of one image: each POC progression
// looks at every precinct of its tile once more, and a main-header POC
// applies to every tile, so the visits are counted against this rather than
// the packets they find. 2^27 visits take about a second.
constexpr int64_t kMaxProgressionVisits = int64_t(1) << 27;

// The point of the reference grid at which the position-driven
// progressions reach the precinct that starts at start on its resolution's
// grid (B.12.1.3): the precinct's corner mapped back through the
// resolution's scale and the component's separation, or the tile's corner
// for a first precinct that the tile cuts.
int64_t visitPoint(int64_t start, int64_t resolutionStart, int precinctExp, int scale, int separation,
                   int64_t tileStart) {
    if (start <= resolutionStart && (resolutionStart & ((int64_t(1) << precinctExp) - 1)) != 0)
        return tileStart;
    return int64_t(separation) * (std::max(start, resolutionStart) << scale);
}

}  // namespace

std::vector<Jpeg2000Decoder::PrecinctPlace> Jpeg2000Decoder::precinctPlaces(const Tile& tile) const {
    std::vector<PrecinctPlace> places;
    for (int c = 0; c < m_componentCount; ++c) {
        const TileComponent& comp = tile.comps[size_t(c)];
        for (int r = 0; r < int(comp.resolutions.size()); ++r) {
            const Resolution& res = comp.resolutions[size_t(r)];
            const int scale = comp.style.levels - r;
            const int ppx = res.precinctWidthExp, ppy = res.precinctHeightExp;
            const int64_t firstX = int64_t(res.x0) >> ppx, firstY = int64_t(res.y0) >> ppy;
            for (int j = 0; j < res.precinctsHigh; ++j) {
                const int64_t y =
                    visitPoint((firstY + j) << ppy, res.y0, ppy, scale, m_ySep[size_t(c)], tile.y0);
                for (int i = 0; i < res.precinctsWide; ++i) {
                    const int64_t x =
                        visitPoint((firstX + i) << ppx, res.x0, ppx, scale, m_xSep[size_t(c)], tile.x0);
                    places.push_back({c, r, j * res.precinctsWide + i, x, y});
                }
            }
        }
    }
    return places;
}

void Jpeg2000Decoder::readPackets(Tile& tile) {
    const std::vector<PrecinctPlace> places = precinctPlaces(tile);
    if (places.empty())
        return;
    PacketCursor cursor;
    // A tile's own progression changes replace the main header's.
    for (const ProgressionChange& change : tile.changes.empty() ? m_changes : tile.changes) {
        if (!readProgression(tile, places, change, cursor))
            return;
    }
    // The tile's progression takes whatever packets the changes left out
    // (all of them when there are none).
    ProgressionChange all;
    all.layerEnd = tile.layers;
    all.resEnd = kMaxLevels + 1;
    all.compEnd = m_componentCount;
    all.order = tile.progression;
    readProgression(tile, places, all, cursor);
}

bool Jpeg2000Decoder::readProgression(Tile& tile, std::vector<PrecinctPlace> places,
                                      const ProgressionChange& change, PacketCursor& cursor) {
    m_progressionVisits += int64_t(places.size());
    if (m_progressionVisits > kMaxProgressionVisits) {
        reportError(getPos(), "JPX progression changes visit too many precincts");
        return false;
    }
    std::erase_if(places, [&change](const PrecinctPlace& p) {
        return p.component < change.compStart || p.component >= change.compEnd ||
               p.resolution < change.resStart || p.resolution >= change.resEnd;
    });
    const int layerEnd = std::min(change.layerEnd, tile.layers);
    auto layersRead = [&tile](const PrecinctPlace& p) -> int {
        return tile.comps[size_t(p.component)]
            .resolutions[size_t(p.resolution)]
            .precincts[size_t(p.precinct)]
            .layersRead;
    };
    auto packet = [&](const PrecinctPlace& p, int layer) {
        const bool ended =
            tile.packedHeaders ? cursor.header >= tile.headers.size() : cursor.body >= tile.data.size();
        if (ended) {
            // Data cut short: the packets that arrived are decoded.
            reportError(getPos(), "JPX tile data ends before its last packet");
            return false;
        }
        return readPacket(tile, p, layer, cursor);
    };
    auto by = [](auto key) {
        return [key](const PrecinctPlace& a, const PrecinctPlace& b) { return key(a) < key(b); };
    };
    switch (change.order) {
        case 0:  // layer, resolution, component, position
        case 1:  // resolution, layer, component, position
            std::stable_sort(places.begin(), places.end(), by([](const PrecinctPlace& p) {
                                 return std::make_tuple(p.resolution, p.component, p.precinct);
                             }));
            break;
        case 2:  // resolution, position, component, layer
            std::stable_sort(places.begin(), places.end(), by([](const PrecinctPlace& p) {
                                 return std::make_tuple(p.resolution, p.y, p.x, p.component);
                             }));
            break;
        case 3:  // position, component, resolution, layer
            std::stable_sort(places.begin(), places.end(), by([](const PrecinctPlace& p) {
                                 return std::make_tuple(p.y, p.x, p.component, p.resolution);
                             }));
            break;
        default:  // component, position, resolution, layer
            std::stable_sort(places.begin(), places.end(), by([](const PrecinctPlace& p) {
                                 return std::make_tuple(p.component, p.y, p.x, p.resolution);
                             }));
            break;
    }
    if (change.order >= 2) {
        // Layers innermost: each precinct's remaining layers in turn.
        for (const PrecinctPlace& p : places) {
            for (int layer = layersRead(p); layer < layerEnd; ++layer) {
                if (!packet(p, layer))
                    return false;
            }
        }
        return true;
    }
    // Layers outside the precincts: all places at once (LRCP) or a
    // resolution at a time (RLCP). A layer holds packets only of precincts
    // that have read the layers below it, so the loop goes from the lowest
    // layer still to read to the next, and skips the layers in between.
    for (size_t first = 0; first < places.size();) {
        size_t last = first + 1;
        while (last < places.size() &&
               (change.order == 0 || places[last].resolution == places[first].resolution))
            ++last;
        for (;;) {
            int layer = INT_MAX;
            for (size_t i = first; i < last; ++i)
                layer = std::min(layer, layersRead(places[i]));
            m_progressionVisits += int64_t(last - first);
            if (layer >= layerEnd || m_progressionVisits > kMaxProgressionVisits)
                break;
            for (size_t i = first; i < last; ++i) {
                if (layersRead(places[i]) == layer && !packet(places[i], layer))
                    return false;
            }
        }
        first = last;
    }
    if (m_progressionVisits > kMaxProgressionVisits) {
        reportError(getPos(), "JPX progression changes visit too many precincts");
        return false;
    }
    return true;
}

}  // namespace rendova
