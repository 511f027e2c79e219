#include "engine/content/SampledFunction.h"

#include <cstring>

#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

// The grid is stored as doubles in memory the engine sizes with signed 32-bit
// counts; a grid beyond that is refused rather than allowed to wrap.
constexpr int64_t kMaxSampleCount = INT32_MAX / int64_t(sizeof(double));
// Samples are read as big-endian integers of at most 32 bits.
constexpr int kMaxBitsPerSample = 32;

}  // namespace

SampledFunction::SampledFunction(const PdfValue& value, const PdfDict* dict) {
    if (!readDomainAndRange(dict))
        return;
    if (!m_hasRange) {
        reportError(-1, "sampled function has no Range");
        return;
    }
    if (m_inputCount > kMaxSampledInputs) {
        reportError(-1, "sampled function has %d inputs; at most %d are allowed", m_inputCount,
                    kMaxSampledInputs);
        return;
    }
    if (!value.isStream()) {
        reportError(-1, "sampled function is not a stream");
        return;
    }

    PdfValue array;
    PdfValue element;
    dict->lookup("Size", array);
    if (!array.isArray() || array.getArray()->getLength() != m_inputCount) {
        reportError(-1, "sampled function Size is not %d integers", m_inputCount);
        return;
    }
    // The grid holds n x the product of the sizes samples; every size must
    // be at least 1 and the product must stay countable.
    int64_t count = m_outputCount;
    for (int i = 0; i < m_inputCount; ++i) {
        array.getArray()->get(i, element);
        if (!element.isInt()) {
            reportError(-1, "sampled function Size holds a %s", element.typeName());
            return;
        }
        if (element.getInt() <= 0) {
            reportError(-1, "sampled function size %d is not positive", element.getInt());
            return;
        }
        m_size[i] = element.getInt();
        count *= m_size[i];
        if (count > kMaxSampleCount) {
            reportError(-1, "sampled function grid is too large");
            return;
        }
    }
    // Samples of one grid point lie together: outputs vary fastest, then the
    // first input, then the second. The products are at most count.
    if (m_inputCount > 0) {
        m_indexMultiplier[0] = m_outputCount;
        for (int i = 1; i < m_inputCount; ++i)
            m_indexMultiplier[i] = m_indexMultiplier[i - 1] * m_size[i - 1];
    }

    PdfValue bitsValue;
    dict->lookup("BitsPerSample", bitsValue);
    if (!bitsValue.isInt()) {
        reportError(-1, "sampled function has no integer BitsPerSample");
        return;
    }
    const int bits = bitsValue.getInt();
    if (bits < 1 || bits > kMaxBitsPerSample) {
        reportError(-1, "sampled function BitsPerSample %d is outside 1..%d", bits, kMaxBitsPerSample);
        return;
    }

    dict->lookup("Encode", array);
    if (array.isArray() && array.getArray()->getLength() == 2 * m_inputCount) {
        if (!readNumberArray(array, &m_encode[0][0], 2 * m_inputCount)) {
            reportError(-1, "sampled function Encode holds something other than numbers");
            return;
        }
    } else {
        for (int i = 0; i < m_inputCount; ++i) {
            m_encode[i][0] = 0;
            m_encode[i][1] = m_size[i] - 1;
        }
    }
    for (int i = 0; i < m_inputCount; ++i) {
        m_inputMultiplier[i] = (m_encode[i][1] - m_encode[i][0]) / (m_domain[i][1] - m_domain[i][0]);
    }

    dict->lookup("Decode", array);
    if (array.isArray() && array.getArray()->getLength() == 2 * m_outputCount) {
        if (!readNumberArray(array, &m_decode[0][0], 2 * m_outputCount)) {
            reportError(-1, "sampled function Decode holds something other than numbers");
            return;
        }
    } else {
        std::memcpy(m_decode, m_range, sizeof(m_decode));
    }

    m_sampleCount = int(count);
    if (!readSamples(value, bits))
        return;
    m_corners = std::make_unique<double[]>(size_t(1) << m_inputCount);
    m_ok = true;
}

bool SampledFunction::readSamples(const PdfValue& value, int bits) {
    DataStream* stream = value.getStream();
    const double multiplier = 1.0 / (double((uint64_t(1) << bits) - 1));
    // The grid grows as data arrives, so that a huge Size over a short stream
    // costs only what the stream holds; the rest of the grid reads as 0.
    m_samples.clear();
    m_samples.reserve(size_t(m_sampleCount < 4096 ? m_sampleCount : 4096));
    stream->reset();
    const uint64_t mask = (uint64_t(1) << bits) - 1;
    uint64_t held = 0;
    int heldBits = 0;
    bool ended = false;
    for (int i = 0; i < m_sampleCount && !ended; ++i) {
        uint64_t sample = 0;
        if (bits == 8 || bits == 16 || bits == 32) {
            for (int b = 0; b < bits; b += 8) {
                const int c = stream->getChar();
                if (c < 0) {
                    ended = true;
                    break;
                }
                sample = (sample << 8) | uint64_t(c);
            }
        } else {
            // Samples run on across byte boundaries, most significant bit
            // first.
            while (heldBits < bits) {
                const int c = stream->getChar();
                if (c < 0) {
                    ended = true;
                    break;
                }
                held = (held << 8) | uint64_t(c);
                heldBits += 8;
            }
            if (!ended) {
                heldBits -= bits;
                sample = (held >> heldBits) & mask;
                held &= (uint64_t(1) << heldBits) - 1;
            }
        }
        if (!ended)
            m_samples.push_back(double(sample) * multiplier);
    }
    stream->close();
    if (ended) {
        reportError(-1, "sampled function data ends after %d of %d samples", int(m_samples.size()),
                    m_sampleCount);
    }
    return true;
}

SampledFunction::SampledFunction(const SampledFunction& other)
    : PdfFunction(other), m_samples(other.m_samples), m_sampleCount(other.m_sampleCount), m_ok(other.m_ok) {
    std::memcpy(m_size, other.m_size, sizeof(m_size));
    std::memcpy(m_encode, other.m_encode, sizeof(m_encode));
    std::memcpy(m_decode, other.m_decode, sizeof(m_decode));
    std::memcpy(m_inputMultiplier, other.m_inputMultiplier, sizeof(m_inputMultiplier));
    std::memcpy(m_indexMultiplier, other.m_indexMultiplier, sizeof(m_indexMultiplier));
    m_corners = std::make_unique<double[]>(size_t(1) << m_inputCount);
}

std::unique_ptr<PdfFunction> SampledFunction::copy() const {
    return std::unique_ptr<PdfFunction>(new SampledFunction(*this));
}

void SampledFunction::transform(const double* in, double* out) {
    const int m = m_inputCount;
    int lower[kMaxSampledInputs];
    int upper[kMaxSampledInputs];
    double weight[kMaxSampledInputs];
    for (int i = 0; i < m; ++i) {
        double x = (in[i] - m_domain[i][0]) * m_inputMultiplier[i] + m_encode[i][0];
        const double last = m_size[i] - 1;
        // NaN (an empty domain gives an infinite multiplier) counts as 0.
        if (!(x >= 0)) {
            x = 0;
        } else if (x > last) {
            x = last;
        }
        lower[i] = int(x);
        upper[i] = lower[i] + 1 < m_size[i] ? lower[i] + 1 : lower[i];
        weight[i] = x - lower[i];
    }

    const double* samples = m_samples.data();
    const int stored = int(m_samples.size());
    double* corners = m_corners.get();
    const int cornerCount = 1 << m;
    for (int j = 0; j < m_outputCount; ++j) {
        // Bit i of the corner number picks the lower or upper grid index of
        // input i.
        for (int corner = 0; corner < cornerCount; ++corner) {
            int index = j;
            for (int i = 0; i < m; ++i)
                index += ((corner >> i) & 1 ? upper[i] : lower[i]) * m_indexMultiplier[i];
            corners[corner] = index < stored ? samples[index] : 0.0;
        }
        // Fold the first input's pairs, then the second's, down to one value.
        for (int i = 0, span = cornerCount; i < m; ++i) {
            span >>= 1;
            const double w = weight[i];
            for (int k = 0; k < span; ++k)
                corners[k] = corners[2 * k] * (1 - w) + corners[2 * k + 1] * w;
        }
        double v = m_decode[j][0] + (m_decode[j][1] - m_decode[j][0]) * corners[0];
        if (v < m_range[j][0]) {
            v = m_range[j][0];
        } else if (v > m_range[j][1]) {
            v = m_range[j][1];
        }
        out[j] = v;
    }
}

}  // namespace rendova
