// Building a stream's decoder chain from its Filter and DecodeParms entries.
#include <cstring>

#include "engine/core/Base85Decoder.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/FaxDecoder.h"
#include "engine/core/HexDecoder.h"
#include "engine/core/InflateDecoder.h"
#include "engine/core/Jbig2Decoder.h"
#include "engine/core/Jpeg2000Decoder.h"
#include "engine/core/JpegDecoder.h"
#include "engine/core/LzwDecoder.h"
#include "engine/core/PdfValue.h"
#include "engine/core/RunLengthDecoder.h"

namespace rendova {

namespace {

// An integer entry of a parameter dictionary; a missing entry, an entry of
// another kind (a real number too) or no dictionary at all keeps the default.
int intParam(const PdfValue& params, const char* key, int fallback) {
    if (!params.isDict())
        return fallback;
    PdfValue value;
    params.dictLookup(key, value);
    return value.isInt() ? value.getInt() : fallback;
}

bool boolParam(const PdfValue& params, const char* key, bool fallback) {
    if (!params.isDict())
        return fallback;
    PdfValue value;
    params.dictLookup(key, value);
    return value.isBool() ? value.getBool() : fallback;
}

// Row prediction parameters shared by the LZW and inflate filters.
struct PredictorParams {
    int predictor;
    int columns;
    int colors;
    int bits;
};

PredictorParams readPredictorParams(const PdfValue& params) {
    return {intParam(params, "Predictor", 1), intParam(params, "Columns", 1), intParam(params, "Colors", 1),
            intParam(params, "BitsPerComponent", 8)};
}

struct FaxParams {
    int k;
    bool endOfLine;
    bool encodedByteAlign;
    int columns;
    int rows;
    bool endOfBlock;
    bool blackIs1;
};

FaxParams readFaxParams(const PdfValue& params) {
    return {intParam(params, "K", 0),
            boolParam(params, "EndOfLine", false),
            boolParam(params, "EncodedByteAlign", false),
            intParam(params, "Columns", 1728),
            intParam(params, "Rows", 0),
            boolParam(params, "EndOfBlock", true),
            boolParam(params, "BlackIs1", false)};
}

bool isFilter(const char* name, const char* longName, const char* shortName) {
    return std::strcmp(name, longName) == 0 || (shortName && std::strcmp(name, shortName) == 0);
}

}  // namespace

RefPtr<DataStream> DataStream::addFilters(RefPtr<DataStream> stream, const PdfValue& dict) {
    PdfValue filter;
    dict.dictLookup("Filter", filter);
    if (filter.isNull())
        dict.dictLookup("F", filter);
    PdfValue params;
    dict.dictLookup("DecodeParms", params);
    if (params.isNull())
        dict.dictLookup("DP", params);

    if (filter.isName())
        return makeFilter(filter.getName(), std::move(stream), params);
    if (filter.isArray()) {
        const PdfArray* filters = filter.getArray();
        for (int i = 0; i < filters->getLength(); ++i) {
            PdfValue name;
            filters->get(i, name);
            // A parameter array shorter than the filter array leaves the
            // later filters with their defaults.
            PdfValue elementParams;
            if (params.isArray())
                params.getArray()->get(i, elementParams);
            else
                elementParams.initNull();
            if (name.isName()) {
                stream = makeFilter(name.getName(), std::move(stream), elementParams);
            } else {
                reportError(-1, "Bad filter name");
                stream = RefPtr<DataStream>::adopt(new EndOfDataStream(std::move(stream)));
            }
        }
        return stream;
    }
    if (!filter.isNull())
        reportError(-1, "Bad 'Filter' attribute in stream");
    return stream;
}

RefPtr<DataStream> DataStream::makeFilter(const char* name, RefPtr<DataStream> stream,
                                          const PdfValue& params) {
    if (isFilter(name, "ASCIIHexDecode", "AHx")) {
        return RefPtr<DataStream>::adopt(new HexDecoder(std::move(stream)));
    }
    if (isFilter(name, "ASCII85Decode", "A85")) {
        return RefPtr<DataStream>::adopt(new Base85Decoder(std::move(stream)));
    }
    if (isFilter(name, "LZWDecode", "LZW")) {
        const PredictorParams p = readPredictorParams(params);
        const int earlyChange = intParam(params, "EarlyChange", 1);
        return RefPtr<DataStream>::adopt(
            new LzwDecoder(std::move(stream), p.predictor, p.columns, p.colors, p.bits, earlyChange));
    }
    if (isFilter(name, "RunLengthDecode", "RL")) {
        return RefPtr<DataStream>::adopt(new RunLengthDecoder(std::move(stream)));
    }
    if (isFilter(name, "CCITTFaxDecode", "CCF")) {
        const FaxParams fax = readFaxParams(params);
        return RefPtr<DataStream>::adopt(new FaxDecoder(std::move(stream), fax.k, fax.endOfLine,
                                                        fax.encodedByteAlign, fax.columns, fax.rows,
                                                        fax.endOfBlock, fax.blackIs1));
    }
    if (isFilter(name, "DCTDecode", "DCT")) {
        // -1 decides from the data.
        const int colorTransform = intParam(params, "ColorTransform", -1);
        return RefPtr<DataStream>::adopt(new JpegDecoder(std::move(stream), colorTransform));
    }
    if (isFilter(name, "FlateDecode", "Fl")) {
        const PredictorParams p = readPredictorParams(params);
        return RefPtr<DataStream>::adopt(
            new InflateDecoder(std::move(stream), p.predictor, p.columns, p.colors, p.bits));
    }
    if (isFilter(name, "JBIG2Decode", nullptr)) {
        // The globals stream: null when the parameters lack it, none when
        // there are no parameters.
        PdfValue globals;
        if (params.isDict())
            params.dictLookup("JBIG2Globals", globals);
        return RefPtr<DataStream>::adopt(new Jbig2Decoder(std::move(stream), globals));
    }
    if (isFilter(name, "JPXDecode", nullptr)) {
        return RefPtr<DataStream>::adopt(new Jpeg2000Decoder(std::move(stream)));
    }
    reportError(-1, "Unknown filter '%s'", name);
    return RefPtr<DataStream>::adopt(new EndOfDataStream(std::move(stream)));
}

}  // namespace rendova
