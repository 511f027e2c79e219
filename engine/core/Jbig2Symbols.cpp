// Text regions and symbol dictionaries of the JBIG2 decoder, and the
// pattern dictionaries and halftone regions that place patterns the same way.
#include <algorithm>
#include <cstring>

#include "engine/core/BigEndian.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Jbig2Decoder.h"

namespace rendova {

namespace {

// Symbols a stream may define or a region may refer to: far more than any
// document's fonts hold, and it keeps the symbol-id statistics (2^(n+1)
// contexts for n-bit ids) small.
constexpr int64_t kMaxSymbols = int64_t(1) << 20;
// Patterns of a pattern dictionary: a halftone of 8-bit gray levels takes
// 256, and no printing process tells more than 2^16 apart.
constexpr int64_t kMaxPatterns = int64_t(1) << 16;
// The cost of one symbol instance or grid cell beside its pixels: about the
// decisions it takes, so that a region of billions of instances over no data
// ends within the work bound in a fraction of a second.
constexpr int64_t kInstanceCost = 256;

enum Corner { kBottomLeft = 0, kTopLeft = 1, kBottomRight = 2, kTopRight = 3 };

int symbolCodeLength(int64_t count) {
    int length = 0;
    while ((int64_t(1) << length) < count)
        ++length;
    return length;
}

// The standard table or the next custom one for a table selection.
struct TablePicker {
    const std::vector<const Jbig2HuffmanTable*>& custom;
    size_t next = 0;
    bool failed = false;
    const Jbig2HuffmanTable* pick(int selection, std::initializer_list<int> standard, int customValue) {
        if (selection == customValue) {
            if (next < custom.size())
                return custom[next++];
            failed = true;
            return nullptr;
        }
        if (selection < 0 || size_t(selection) >= standard.size()) {
            failed = true;
            return nullptr;
        }
        return &standardHuffmanTable(standard.begin()[selection]);
    }
};

}  // namespace

bool Jbig2Decoder::readSymbolCodeTable(Jbig2BitReader& reader, size_t symbolCount, Table& out) {
    Table runs;
    for (int i = 0; i < 35; ++i)
        runs.rows.push_back({i, int(reader.readBits(4)), 0, Jbig2HuffmanRow::kRange, 0});
    if (!buildHuffmanCodes(runs))
        return false;
    std::vector<int> lengths;
    lengths.reserve(symbolCount);
    int prev = 0;
    while (lengths.size() < symbolCount) {
        int64_t code;
        if (decodeHuffman(reader, runs, &code) != HuffmanResult::kValue)
            return false;
        if (code < 32) {
            lengths.push_back(prev = int(code));
            continue;
        }
        int repeat, value = 0;
        if (code == 32) {
            repeat = 3 + int(reader.readBits(2));
            value = prev;
        } else if (code == 33) {
            repeat = 3 + int(reader.readBits(3));
        } else {
            repeat = 11 + int(reader.readBits(7));
        }
        for (int i = 0; i < repeat && lengths.size() < symbolCount; ++i)
            lengths.push_back(value);
        if (code != 32)
            prev = 0;
    }
    reader.alignToByte();
    out.rows.clear();
    for (size_t i = 0; i < lengths.size(); ++i)
        out.rows.push_back({int32_t(i), lengths[i], 0, Jbig2HuffmanRow::kRange, 0});
    return buildHuffmanCodes(out);
}

template <class Integer>
bool Jbig2Decoder::refineTextSymbol(const TextParams& p, const Jbig2Bitmap* symbol, Jbig2BitReader* reader,
                                    Data data, Integer& integer, const bool& failed,
                                    std::unique_ptr<Jbig2Bitmap>& refined) {
    int64_t rdw = 0, rdh = 0, rdx = 0, rdy = 0, size = 0;
    integer(p.rdw, m_iardw.get(), &rdw);
    integer(p.rdh, m_iardh.get(), &rdh);
    integer(p.rdx, m_iardx.get(), &rdx);
    integer(p.rdy, m_iardy.get(), &rdy);
    if (p.huffman) {
        integer(p.rsize, nullptr, &size);
        reader->alignToByte();
        if (size < 0)
            size = 0;
        startArith(data, size_t(reader->data() - data.bytes) + reader->bytesRead(), size_t(size));
    }
    if (failed)
        return false;
    const int64_t w = (symbol && symbol->isValid() ? symbol->width() : 0) + rdw;
    const int64_t h = (symbol && symbol->isValid() ? symbol->height() : 0) + rdh;
    if (symbol && symbol->isValid() && Jbig2Bitmap::sizeInRange(w, h)) {
        refined = decodeRefinement(int(w), int(h), p.refTemplate, false, *symbol, (rdw >> 1) + rdx,
                                   (rdh >> 1) + rdy, p.refAt);
    }
    if (p.huffman)
        reader->skipBytes(size_t(size));
    return true;
}

std::unique_ptr<Jbig2Bitmap> Jbig2Decoder::decodeText(const TextParams& p,
                                                      const std::vector<const Jbig2Bitmap*>& symbols,
                                                      Jbig2BitReader* reader, Data data) {
    if (!Jbig2Bitmap::sizeInRange(p.width, p.height) || !spend(p.width * p.height / 32) ||
        !reserveBitmap(p.width, p.height))
        return nullptr;
    auto region = std::make_unique<Jbig2Bitmap>(0, int(p.width), int(p.height));
    if (p.defaultPixel)
        region->clearTo(1);
    const int64_t strips = int64_t(1) << p.logStrips;
    bool failed = false;
    bool badIdReported = false;
    // One integer by the table or the statistics; false at out-of-band.
    auto integer = [&](const Table* table, ArithDecoderStats* stats, int64_t* value) {
        if (failed)
            return false;
        if (!p.huffman) {
            int v;
            if (!m_arith.decodeInt(&v, stats))
                return false;
            *value = v;
            return true;
        }
        const HuffmanResult r = decodeHuffman(*reader, *table, value);
        if (r == HuffmanResult::kNoCode) {
            reportError(m_position, "Bad Huffman code in JBIG2 text region");
            failed = true;
        }
        return r == HuffmanResult::kValue;
    };
    int64_t dt = 0;
    if (!integer(p.dt, m_iadt.get(), &dt))
        return region;
    int64_t stript = -dt * strips;
    int64_t firsts = 0;
    int64_t instances = 0;
    while (instances < p.instances && !failed) {
        if (!integer(p.dt, m_iadt.get(), &dt))
            break;
        stript += dt * strips;
        int64_t curs = 0;
        for (bool first = true;; first = false) {
            if (first) {
                int64_t dfs;
                if (!integer(p.fs, m_iafs.get(), &dfs))
                    return region;
                firsts += dfs;
                curs = firsts;
            } else {
                int64_t ids;
                if (!integer(p.ds, m_iads.get(), &ids))
                    break;
                curs += ids + p.dsOffset;
            }
            if (failed)
                return region;
            int64_t curt = 0;
            if (strips > 1) {
                if (p.huffman)
                    curt = reader->readBits(p.logStrips);
                else if (!integer(nullptr, m_iait.get(), &curt))
                    curt = 0;
            }
            const int64_t t = stript + curt;
            int64_t id;
            if (!readTextSymbolId(p, reader, &id))
                return region;
            int64_t refine = 0;
            if (p.refine) {
                if (p.huffman)
                    refine = reader->readBit();
                else
                    integer(nullptr, m_iari.get(), &refine);
            }
            // An id past the symbols leaves the instance out as an empty
            // symbol; when refined, its deltas are read (with Huffman coding
            // its refinement data is skipped by its size) and there is no
            // bitmap to refine.
            const Jbig2Bitmap* symbol =
                id >= 0 && size_t(id) < symbols.size() ? symbols[size_t(id)] : nullptr;
            if (id < 0 || size_t(id) >= symbols.size()) {
                if (!badIdReported)
                    reportError(m_position, "JBIG2 symbol id %lld out of range", static_cast<long long>(id));
                badIdReported = true;
            }
            std::unique_ptr<Jbig2Bitmap> refined;
            if (refine) {
                if (!refineTextSymbol(p, symbol, reader, data, integer, failed, refined))
                    return region;
                symbol = refined.get();
            }
            if (!placeTextSymbol(p, symbol, t, curs, *region))
                return region;
            ++instances;
        }
    }
    return region;
}

bool Jbig2Decoder::readTextSymbolId(const TextParams& p, Jbig2BitReader* reader, int64_t* id) {
    if (!p.huffman) {
        *id = m_arith.decodeIaid(uint32_t(p.symbolCodeLength), m_iaid.get());
    } else if (p.symbolCodes) {
        if (decodeHuffman(*reader, *p.symbolCodes, id) != HuffmanResult::kValue) {
            reportError(m_position, "Bad symbol code in JBIG2 text region");
            return false;
        }
    } else {
        *id = reader->readBits(p.symbolCodeLength);
    }
    return true;
}

bool Jbig2Decoder::placeTextSymbol(const TextParams& p, const Jbig2Bitmap* symbol, int64_t t, int64_t& curs,
                                   Jbig2Bitmap& region) {
    if (!spend(kInstanceCost) || (!p.huffman && pastData(16)))
        return false;
    const int64_t wi = symbol && symbol->isValid() ? symbol->width() : 0;
    const int64_t hi = symbol && symbol->isValid() ? symbol->height() : 0;
    if (!p.transposed && (p.refCorner == kTopRight || p.refCorner == kBottomRight))
        curs += wi - 1;
    else if (p.transposed && (p.refCorner == kBottomLeft || p.refCorner == kBottomRight))
        curs += hi - 1;
    int64_t x = p.transposed ? t : curs;
    int64_t y = p.transposed ? curs : t;
    if (p.refCorner == kTopRight || p.refCorner == kBottomRight)
        x -= wi - 1;
    if (p.refCorner == kBottomLeft || p.refCorner == kBottomRight)
        y -= hi - 1;
    if (symbol && symbol->isValid()) {
        if (!spend(wi * hi / 32))
            return false;
        region.combine(*symbol, x, y, p.op);
    }
    if (!p.transposed && (p.refCorner == kTopLeft || p.refCorner == kBottomLeft))
        curs += wi - 1;
    else if (p.transposed && (p.refCorner == kTopLeft || p.refCorner == kTopRight))
        curs += hi - 1;
    return true;
}

void Jbig2Decoder::readTextRegion(const SegmentHeader& h, Data data, bool immediate, SegmentList& list) {
    RegionInfo info;
    Jbig2FieldReader fields(data.bytes, data.size, 17);
    TextParams p;
    const bool hasInfo = readRegionInfo(data, info);
    const uint32_t flags = fields.u16();
    p.huffman = flags & 1;
    p.refine = (flags >> 1) & 1;
    p.logStrips = (flags >> 2) & 3;
    p.refCorner = (flags >> 4) & 3;
    p.transposed = (flags >> 6) & 1;
    p.op = (flags >> 7) & 3;
    p.defaultPixel = (flags >> 9) & 1;
    p.dsOffset = int((flags >> 10) & 0x1F);
    if (p.dsOffset >= 16)
        p.dsOffset -= 32;
    p.refTemplate = (flags >> 15) & 1;
    const uint32_t huffFlags = p.huffman ? fields.u16() : 0;
    if (p.refine && p.refTemplate == 0)
        for (int& v : p.refAt)
            v = fields.s8();
    p.instances = fields.u32();
    if (!hasInfo || !fields.ok()) {
        reportError(m_position, "Short JBIG2 text region segment");
        return;
    }
    p.width = info.width;
    p.height = info.height;
    if (!Jbig2Bitmap::sizeInRange(p.width, p.height)) {
        reportError(m_position, "Bad JBIG2 text region size");
        return;
    }
    std::vector<const Jbig2Bitmap*> symbols;
    std::vector<const Jbig2HuffmanTable*> tables;
    for (uint32_t ref : h.refs) {
        Jbig2Segment* segment = findSegment(ref);
        if (!segment) {
            reportError(m_position, "JBIG2 text region refers to missing segment %u", ref);
        } else if (segment->getKind() == Jbig2Segment::kSymbolDictKind) {
            const auto& dictSymbols = static_cast<Jbig2SymbolDict*>(segment)->symbols;
            if (int64_t(symbols.size() + dictSymbols.size()) > kMaxSymbols) {
                reportError(m_position, "Too many JBIG2 symbols");
                return;
            }
            for (auto& s : dictSymbols)
                symbols.push_back(s.get());
        } else if (segment->getKind() == Jbig2Segment::kCodeTableKind) {
            tables.push_back(&static_cast<Jbig2CodeTable*>(segment)->table);
        }
    }
    p.symbolCodeLength = symbolCodeLength(int64_t(symbols.size()));
    const size_t pos = fields.pos();
    Jbig2BitReader reader(data.bytes + pos, data.size - pos);
    Table symbolCodes;
    if (p.huffman) {
        TablePicker pick{tables};
        p.fs = pick.pick(int(huffFlags & 3), {6, 7}, 3);
        p.ds = pick.pick(int((huffFlags >> 2) & 3), {8, 9, 10}, 3);
        p.dt = pick.pick(int((huffFlags >> 4) & 3), {11, 12, 13}, 3);
        p.rdw = pick.pick(int((huffFlags >> 6) & 3), {14, 15}, 3);
        p.rdh = pick.pick(int((huffFlags >> 8) & 3), {14, 15}, 3);
        p.rdx = pick.pick(int((huffFlags >> 10) & 3), {14, 15}, 3);
        p.rdy = pick.pick(int((huffFlags >> 12) & 3), {14, 15}, 3);
        p.rsize = pick.pick(int((huffFlags >> 14) & 1), {1}, 1);
        if (pick.failed) {
            reportError(m_position, "Missing or bad Huffman table selection in JBIG2 text region");
            return;
        }
        if (!readSymbolCodeTable(reader, symbols.size(), symbolCodes)) {
            reportError(m_position, "Bad symbol code table in JBIG2 text region");
            return;
        }
        p.symbolCodes = &symbolCodes;
    } else {
        resetIntStats(p.symbolCodeLength);
        startArith(data, pos, data.size - pos);
    }
    if (p.refine)
        resetRefinementStats(p.refTemplate, nullptr);
    auto bitmap = decodeText(p, symbols, &reader, data);
    placeRegion(h.number, info, std::move(bitmap), immediate, list);
}

// What the steps of one symbol dictionary share: its parameters, the input
// symbols, and the symbols decoded so far.
struct Jbig2Decoder::SymbolDictRun {
    Data data;
    bool huffman = false;
    bool refAgg = false;
    int templ = 0;
    int refTempl = 0;
    int at[8] = {0};
    int refAt[4] = {0};
    int64_t exported = 0;
    int64_t newCount = 0;
    int64_t inCount = 0;
    std::vector<const Jbig2Bitmap*> inputs;
    const Table* dhTable = nullptr;
    const Table* dwTable = nullptr;
    const Table* bmSizeTable = nullptr;
    const Table* aggTable = nullptr;
    int codeLength = 0;
    // Where the coded data starts after the segment's fields.
    size_t pos = 0;
    Jbig2BitReader reader{nullptr, 0};
    // A Huffman code that no table row matches.
    bool failed = false;
    std::vector<std::unique_ptr<Jbig2Bitmap>> newSymbols;
    std::vector<int64_t> widths;
    // The input symbols and the new ones so far, which refinement and
    // aggregation refer to.
    std::vector<const Jbig2Bitmap*> all;
    int64_t classHeight = 0;
    int64_t decoded = 0;
};

bool Jbig2Decoder::symbolDictInteger(SymbolDictRun& run, const Table* table, ArithDecoderStats* stats,
                                     int64_t* value) {
    if (!run.huffman) {
        int v;
        if (!m_arith.decodeInt(&v, stats))
            return false;
        *value = v;
        return true;
    }
    const HuffmanResult r = decodeHuffman(run.reader, *table, value);
    if (r == HuffmanResult::kNoCode)
        run.failed = true;
    return r == HuffmanResult::kValue;
}

bool Jbig2Decoder::readSymbolDict(const SegmentHeader& h, Data data, SegmentList& list) {
    SymbolDictRun run;
    run.data = data;
    Jbig2FieldReader fields(data.bytes, data.size, 0);
    const uint32_t flags = fields.u16();
    run.huffman = flags & 1;
    run.refAgg = (flags >> 1) & 1;
    const int huffDh = (flags >> 2) & 3;
    const int huffDw = (flags >> 4) & 3;
    const int huffBmSize = (flags >> 6) & 1;
    const int huffAggInst = (flags >> 7) & 1;
    const bool contextUsed = (flags >> 8) & 1;
    const bool contextRetained = (flags >> 9) & 1;
    run.templ = (flags >> 10) & 3;
    run.refTempl = (flags >> 12) & 1;
    if (!run.huffman)
        for (int i = 0; i < (run.templ == 0 ? 8 : 2); ++i)
            run.at[i] = fields.s8();
    if (run.refAgg && run.refTempl == 0)
        for (int& v : run.refAt)
            v = fields.s8();
    run.exported = fields.u32();
    run.newCount = fields.u32();
    if (!fields.ok()) {
        reportError(m_position, "Short JBIG2 symbol dictionary segment");
        return false;
    }
    std::vector<const Jbig2HuffmanTable*> tables;
    Jbig2SymbolDict* lastInput = nullptr;
    if (!gatherSymbolInputs(h, run, tables, lastInput))
        return false;
    run.inCount = int64_t(run.inputs.size());
    if (run.newCount > kMaxSymbols || run.inCount + run.newCount > kMaxSymbols ||
        run.exported > run.inCount + run.newCount) {
        reportError(m_position, "Bad JBIG2 symbol counts");
        return false;
    }
    TablePicker pick{tables};
    if (run.huffman) {
        run.dhTable = pick.pick(huffDh, {4, 5}, 3);
        run.dwTable = pick.pick(huffDw, {2, 3}, 3);
        run.bmSizeTable = pick.pick(huffBmSize, {1}, 1);
        run.aggTable = pick.pick(huffAggInst, {1}, 1);
        if (pick.failed) {
            reportError(m_position, "Missing or bad Huffman table selection in JBIG2 symbol dictionary");
            return false;
        }
    }
    run.codeLength = symbolCodeLength(run.inCount + run.newCount);
    run.pos = fields.pos();
    run.reader = Jbig2BitReader(data.bytes + run.pos, data.size - run.pos);
    const bool useRetained = contextUsed && lastInput;
    if (!run.huffman) {
        resetIntStats(run.codeLength);
        resetGenericStats(run.templ, useRetained ? lastInput->genericStats.get() : nullptr);
        startArith(data, run.pos, data.size - run.pos);
    }
    if (run.refAgg)
        resetRefinementStats(run.refTempl, useRetained ? lastInput->refinementStats.get() : nullptr);

    run.newSymbols.resize(static_cast<size_t>(run.newCount));
    run.widths.resize(static_cast<size_t>(run.newCount));
    run.all = run.inputs;
    while (run.decoded < run.newCount) {
        if (!decodeHeightClass(run))
            return false;
    }
    auto dict = std::make_unique<Jbig2SymbolDict>(h.number);
    exportSymbols(run, *dict);
    if (contextRetained && !run.huffman) {
        dict->genericStats = m_genericStats->copy();
        if (run.refAgg)
            dict->refinementStats = m_refinementStats->copy();
    }
    list.push_back(std::move(dict));
    return true;
}

bool Jbig2Decoder::gatherSymbolInputs(const SegmentHeader& h, SymbolDictRun& run,
                                      std::vector<const Jbig2HuffmanTable*>& tables,
                                      Jbig2SymbolDict*& lastInput) {
    for (uint32_t ref : h.refs) {
        Jbig2Segment* segment = findSegment(ref);
        if (!segment) {
            reportError(m_position, "JBIG2 symbol dictionary refers to missing segment %u", ref);
        } else if (segment->getKind() == Jbig2Segment::kSymbolDictKind) {
            lastInput = static_cast<Jbig2SymbolDict*>(segment);
            if (int64_t(run.inputs.size() + lastInput->symbols.size()) > kMaxSymbols) {
                reportError(m_position, "Too many JBIG2 symbols");
                return false;
            }
            for (auto& s : lastInput->symbols)
                run.inputs.push_back(s.get());
        } else if (segment->getKind() == Jbig2Segment::kCodeTableKind) {
            tables.push_back(&static_cast<Jbig2CodeTable*>(segment)->table);
        }
    }
    return true;
}

bool Jbig2Decoder::decodeHeightClass(SymbolDictRun& run) {
    // A height class may hold no symbol, so each one costs work too.
    if (!spend(kInstanceCost) || (!run.huffman && pastData(16))) {
        reportError(m_position, "JBIG2 symbol dictionary ends early");
        return false;
    }
    int64_t dh;
    if (!symbolDictInteger(run, run.dhTable, m_iadh.get(), &dh) || (dh < 0 && -dh >= run.classHeight)) {
        reportError(m_position, "Bad height class delta in JBIG2 symbol dictionary");
        return false;
    }
    run.classHeight += dh;
    int64_t symbolWidth = 0;
    int64_t totalWidth = 0;
    const int64_t classFirst = run.decoded;
    for (;;) {
        int64_t dw;
        if (!symbolDictInteger(run, run.dwTable, m_iadw.get(), &dw))
            break;
        if (run.decoded >= run.newCount || (dw < 0 && -dw >= symbolWidth) || !spend(kInstanceCost) ||
            (!run.huffman && pastData(16))) {
            reportError(m_position, "Bad symbol width delta in JBIG2 symbol dictionary");
            return false;
        }
        symbolWidth += dw;
        totalWidth += symbolWidth;
        if (symbolWidth > INT32_MAX || totalWidth > INT32_MAX || run.classHeight > INT32_MAX) {
            reportError(m_position, "Bad symbol size in JBIG2 symbol dictionary");
            return false;
        }
        run.widths[size_t(run.decoded)] = symbolWidth;
        const int w = int(symbolWidth), hgt = int(run.classHeight);
        if (run.huffman && !run.refAgg) {
            ++run.decoded;
            continue;
        }
        std::unique_ptr<Jbig2Bitmap> symbol;
        if (!run.refAgg)
            symbol = decodeGeneric(false, w, hgt, run.templ, false, nullptr, run.at, nullptr);
        else if (!decodeAggregateSymbol(run, w, hgt, symbol))
            break;
        run.all.push_back(symbol.get());
        run.newSymbols[size_t(run.decoded++)] = std::move(symbol);
    }
    if (run.failed) {
        reportError(m_position, "Bad Huffman code in JBIG2 symbol dictionary");
        return false;
    }
    if (run.huffman && !run.refAgg)
        return readCollectiveBitmap(run, classFirst, totalWidth);
    return true;
}

bool Jbig2Decoder::decodeAggregateSymbol(SymbolDictRun& run, int width, int height,
                                         std::unique_ptr<Jbig2Bitmap>& symbol) {
    int64_t instances = 0;
    symbolDictInteger(run, run.aggTable, m_iaai.get(), &instances);
    if (run.failed)
        return false;
    if (instances == 1) {
        int64_t id, rdx = 0, rdy = 0, size = 0;
        id = run.huffman ? run.reader.readBits(run.codeLength)
                         : m_arith.decodeIaid(uint32_t(run.codeLength), m_iaid.get());
        symbolDictInteger(run, &standardHuffmanTable(15), m_iardx.get(), &rdx);
        symbolDictInteger(run, &standardHuffmanTable(15), m_iardy.get(), &rdy);
        if (run.huffman) {
            symbolDictInteger(run, &standardHuffmanTable(1), nullptr, &size);
            run.reader.alignToByte();
            size = std::max<int64_t>(size, 0);
            startArith(run.data, run.pos + run.reader.bytesRead(), size_t(size));
        }
        const Jbig2Bitmap* ref = id >= 0 && size_t(id) < run.all.size() ? run.all[size_t(id)] : nullptr;
        if (ref && ref->isValid())
            symbol = decodeRefinement(width, height, run.refTempl, false, *ref, rdx, rdy, run.refAt);
        else
            reportError(m_position, "JBIG2 symbol id %lld out of range", static_cast<long long>(id));
        if (run.huffman)
            run.reader.skipBytes(size_t(size));
        return true;
    }
    TextParams p;
    p.huffman = run.huffman;
    p.refine = true;
    p.refCorner = kTopLeft;
    p.refTemplate = run.refTempl;
    std::copy(run.refAt, run.refAt + 4, p.refAt);
    p.width = width;
    p.height = height;
    p.instances = instances;
    p.fs = &standardHuffmanTable(6);
    p.ds = &standardHuffmanTable(8);
    p.dt = &standardHuffmanTable(11);
    p.rdw = p.rdh = p.rdx = p.rdy = &standardHuffmanTable(15);
    p.rsize = &standardHuffmanTable(1);
    p.symbolCodeLength = run.codeLength;
    symbol = decodeText(p, run.all, &run.reader, run.data);
    return true;
}

bool Jbig2Decoder::readCollectiveBitmap(SymbolDictRun& run, int64_t classFirst, int64_t totalWidth) {
    Jbig2BitReader& reader = run.reader;
    const int64_t classHeight = run.classHeight;
    int64_t size = 0;
    symbolDictInteger(run, run.bmSizeTable, nullptr, &size);
    reader.alignToByte();
    if (run.failed || size < 0) {
        reportError(m_position, "Bad collective bitmap size in JBIG2 symbol dictionary");
        return false;
    }
    if (totalWidth <= 0 || classHeight <= 0)
        return true;
    std::unique_ptr<Jbig2Bitmap> collective;
    if (size == 0) {
        // Uncompressed rows must all be there.
        const int64_t bytes = (totalWidth + 7) / 8 * classHeight;
        if (!Jbig2Bitmap::sizeInRange(totalWidth, classHeight) ||
            bytes > int64_t(reader.size()) - int64_t(std::min(reader.bytesRead(), reader.size())) ||
            !spend(totalWidth * classHeight / 32) || !reserveBitmap(totalWidth, classHeight)) {
            reportError(m_position, "Bad collective bitmap size in JBIG2 symbol dictionary");
            return false;
        }
        collective = std::make_unique<Jbig2Bitmap>(0, int(totalWidth), int(classHeight));
        if (!collective->isValid()) {
            reportError(m_position, "Bad collective bitmap size in JBIG2 symbol dictionary");
            return false;
        }
        const size_t line = size_t(collective->lineBytes());
        const size_t at0 = reader.bytesRead();
        for (int y = 0; y < collective->height(); ++y) {
            const size_t from = at0 + size_t(y) * line;
            if (from >= reader.size())
                break;
            std::memcpy(collective->row(y), reader.data() + from, std::min(line, reader.size() - from));
        }
        if (totalWidth & 7) {
            const uint8_t mask = uint8_t(0xFF << (8 - (totalWidth & 7)));
            for (int y = 0; y < collective->height(); ++y)
                collective->row(y)[line - 1] &= mask;
        }
        reader.skipBytes(line * size_t(classHeight));
    } else {
        const size_t at0 = std::min(reader.bytesRead(), reader.size());
        Jbig2BitReader mmr(reader.data() + at0, std::min(size_t(size), reader.size() - at0));
        collective = decodeGeneric(true, int(totalWidth), int(classHeight), 0, false, nullptr, run.at, &mmr);
        reader.skipBytes(size_t(size));
    }
    int64_t x = 0;
    // Cutting the symbols out copies the whole collective bitmap, each
    // symbol's rows rounded up to whole bytes.
    int64_t sliceBytes = 0;
    for (int64_t i = classFirst; i < run.decoded; ++i)
        sliceBytes += (run.widths[size_t(i)] + 7) / 8 * classHeight;
    if (collective && (!spend(totalWidth * classHeight / 32) || !reserveBitmapBytes(sliceBytes)))
        return false;
    for (int64_t i = classFirst; i < run.decoded && collective; ++i) {
        run.newSymbols[size_t(i)] =
            collective->getSlice(int(x), 0, int(run.widths[size_t(i)]), int(classHeight));
        x += run.widths[size_t(i)];
    }
    return true;
}

// The export flags, as alternating runs over the input and new symbols.
void Jbig2Decoder::exportSymbols(SymbolDictRun& run, Jbig2SymbolDict& dict) {
    const int64_t total = run.inCount + run.newCount;
    int64_t index = 0;
    bool exporting = false;
    for (int64_t turn = 0; index < total && int64_t(dict.symbols.size()) < run.exported; ++turn) {
        int64_t count = 0;
        if (!symbolDictInteger(run, &standardHuffmanTable(1), m_iaex.get(), &count) || count < 0 ||
            count > total - index || turn > 2 * total + 2 || (!run.huffman && pastData(16))) {
            reportError(m_position, "Bad export runs in JBIG2 symbol dictionary");
            break;
        }
        for (int64_t i = 0; i < count; ++i, ++index) {
            if (!exporting || int64_t(dict.symbols.size()) >= run.exported)
                continue;
            if (index < run.inCount) {
                const Jbig2Bitmap* s = run.inputs[size_t(index)];
                const bool copy = s && s->isValid() && spend(int64_t(s->width()) * s->height() / 32) &&
                                  reserveBitmap(s->width(), s->height());
                dict.symbols.push_back(copy ? s->getSlice(0, 0, s->width(), s->height()) : nullptr);
            } else {
                dict.symbols.push_back(std::move(run.newSymbols[size_t(index - run.inCount)]));
            }
        }
        exporting = !exporting;
    }
    dict.symbols.resize(size_t(run.exported));
}

// --- Patterns and halftones ---

void Jbig2Decoder::readPatternDict(const SegmentHeader& h, Data data, SegmentList& list) {
    if (data.size < 7) {
        reportError(m_position, "Short JBIG2 pattern dictionary segment");
        return;
    }
    const int flags = data.bytes[0];
    const bool mmr = flags & 1;
    const int templ = (flags >> 1) & 3;
    const int width = data.bytes[1];
    const int height = data.bytes[2];
    const int64_t count = int64_t(readBigEndian32(data.bytes + 3)) + 1;
    if (width == 0 || height == 0 || count > kMaxPatterns ||
        !Jbig2Bitmap::sizeInRange(count * width, height)) {
        reportError(m_position, "Bad JBIG2 pattern dictionary size");
        return;
    }
    const int at[8] = {-width, 0, -3, -1, 2, -2, -2, -2};
    Jbig2BitReader reader(data.bytes + 7, data.size - 7);
    if (!mmr) {
        resetGenericStats(templ, nullptr);
        startArith(data, 7, data.size - 7);
    }
    auto collective = decodeGeneric(mmr, int(count * width), height, templ, false, nullptr, at, &reader);
    if (!collective || !reserveBitmapBytes(count * ((width + 7) / 8) * height))
        return;
    auto dict = std::make_unique<Jbig2PatternDict>(h.number);
    for (int64_t i = 0; i < count; ++i)
        dict->patterns.push_back(collective->getSlice(int(i * width), 0, width, height));
    list.push_back(std::move(dict));
}

std::vector<uint32_t> Jbig2Decoder::decodeGrayValues(Data data, size_t pos, bool mmr, int templ, int gw,
                                                     int gh, const Jbig2Bitmap* skip, int bitsPerPixel) {
    const int at[8] = {templ <= 1 ? 3 : 2, -1, -3, -1, 2, -2, -2, -2};
    Jbig2BitReader reader(data.bytes + pos, data.size - pos);
    if (!mmr) {
        resetGenericStats(templ, nullptr);
        startArith(data, pos, data.size - pos);
    }
    // Bit planes from the most significant, each Gray-coded against the
    // one above it.
    std::vector<uint32_t> gray(size_t(gw) * size_t(gh), 0);
    std::unique_ptr<Jbig2Bitmap> above;
    for (int j = bitsPerPixel - 1; j >= 0; --j) {
        auto plane = decodeGeneric(mmr, gw, gh, templ, false, skip, at, &reader);
        if (mmr)
            reader.alignToByte();
        if (!plane)
            break;
        if (above)
            plane->combine(*above, 0, 0, Jbig2Bitmap::kXor);
        for (int m = 0; m < gh; ++m)
            for (int n = 0; n < gw; ++n)
                gray[size_t(m) * size_t(gw) + size_t(n)] |= uint32_t(plane->getPixel(n, m)) << j;
        above = std::move(plane);
    }
    return gray;
}

void Jbig2Decoder::readHalftoneRegion(const SegmentHeader& h, Data data, bool immediate, SegmentList& list) {
    RegionInfo info;
    Jbig2FieldReader fields(data.bytes, data.size, 17);
    const bool hasInfo = readRegionInfo(data, info);
    const int flags = int(fields.u8());
    const int64_t gridWidth = fields.u32();
    const int64_t gridHeight = fields.u32();
    const int64_t gridX = fields.s32();
    const int64_t gridY = fields.s32();
    const int64_t stepX = fields.u16();
    const int64_t stepY = fields.u16();
    if (!hasInfo || !fields.ok()) {
        reportError(m_position, "Short JBIG2 halftone region segment");
        return;
    }
    const bool mmr = flags & 1;
    const int templ = (flags >> 1) & 3;
    const bool enableSkip = (flags >> 3) & 1;
    const int op = (flags >> 4) & 7;
    const int defaultPixel = (flags >> 7) & 1;
    if (!Jbig2Bitmap::sizeInRange(info.width, info.height)) {
        reportError(m_position, "Bad JBIG2 halftone region size");
        return;
    }
    if (gridHeight == 0 || gridWidth >= 0x7fffffff / gridHeight ||
        (gridWidth > 0 && !Jbig2Bitmap::sizeInRange(gridWidth, gridHeight))) {
        reportError(m_position, "Bad JBIG2 halftone grid size");
        return;
    }
    if (h.refs.size() != 1) {
        reportError(m_position, "JBIG2 halftone region must refer to one pattern dictionary");
        return;
    }
    Jbig2Segment* segment = findSegment(h.refs[0]);
    if (!segment || segment->getKind() != Jbig2Segment::kPatternDictKind) {
        reportError(m_position, "JBIG2 halftone region refers to no pattern dictionary");
        return;
    }
    const auto& patterns = static_cast<Jbig2PatternDict*>(segment)->patterns;
    if (!spend(info.width * info.height / 32) || !reserveBitmap(info.width, info.height))
        return;
    auto region = std::make_unique<Jbig2Bitmap>(0, int(info.width), int(info.height));
    if (defaultPixel)
        region->clearTo(1);
    if (patterns.empty() || gridWidth == 0 || !patterns[0] || !patterns[0]->isValid()) {
        placeRegion(h.number, info, std::move(region), immediate, list);
        return;
    }
    const int64_t patternWidth = patterns[0]->width();
    const int64_t patternHeight = patterns[0]->height();
    const int gw = int(gridWidth), gh = int(gridHeight);
    // Charged before the grid's gray values are allocated: a cell costs
    // its decisions and the placing of its pattern.
    if (!spend(int64_t(gw) * gh * (8 + patternWidth * patternHeight / 32)) ||
        (enableSkip && !reserveBitmap(gw, gh)))
        return;
    auto cellX = [&](int64_t m, int64_t n) { return (gridX + m * stepY + n * stepX) >> 8; };
    auto cellY = [&](int64_t m, int64_t n) { return (gridY + m * stepX - n * stepY) >> 8; };
    std::unique_ptr<Jbig2Bitmap> skip;
    if (enableSkip) {
        skip = std::make_unique<Jbig2Bitmap>(0, gw, gh);
        for (int m = 0; m < gh; ++m) {
            for (int n = 0; n < gw; ++n) {
                const int64_t x = cellX(m, n), y = cellY(m, n);
                if (x + patternWidth <= 0 || x >= info.width || y + patternHeight <= 0 || y >= info.height)
                    skip->setPixel(n, m);
            }
        }
    }
    const int bitsPerPixel = symbolCodeLength(int64_t(patterns.size()));
    const std::vector<uint32_t> gray =
        decodeGrayValues(data, fields.pos(), mmr, templ, gw, gh, skip.get(), bitsPerPixel);
    for (int m = 0; m < gh; ++m) {
        for (int n = 0; n < gw; ++n) {
            if (skip && skip->getPixel(n, m))
                continue;
            const uint32_t value =
                std::min<uint32_t>(gray[size_t(m) * size_t(gw) + size_t(n)], uint32_t(patterns.size() - 1));
            const Jbig2Bitmap* pattern = patterns[value].get();
            if (pattern && pattern->isValid())
                region->combine(*pattern, cellX(m, n), cellY(m, n), op);
        }
    }
    placeRegion(h.number, info, std::move(region), immediate, list);
}

}  // namespace rendova
