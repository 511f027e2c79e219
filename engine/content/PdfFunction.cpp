#include "engine/content/PdfFunction.h"

#include <cmath>
#include <cstring>

#include "engine/content/CalculatorFunction.h"
#include "engine/content/SampledFunction.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

// Stitching functions nest one inside another; real documents go a level or
// two deep. The limit bounds the recursion of parsing and of evaluation.
constexpr int kMaxFunctionNesting = 10;
// Sub-functions may be shared references, so a few nested stitching
// functions of many entries each could otherwise make one parse build an
// exponential number of functions. No gradient needs anywhere near this many.
constexpr int kMaxFunctionsPerParse = 1024;

}  // namespace

PdfFunction::ParseContext::ParseContext() : m_nesting(kMaxFunctionNesting, "function") {}

bool PdfFunction::ParseContext::countFunction() {
    if (m_built >= kMaxFunctionsPerParse) {
        reportError(-1, "function made of more than %d functions", kMaxFunctionsPerParse);
        return false;
    }
    ++m_built;
    return true;
}

PdfFunction::~PdfFunction() = default;

std::unique_ptr<PdfFunction> PdfFunction::parse(const PdfValue& value) {
    ParseContext context;
    return parseNested(value, value, context);
}

std::unique_ptr<PdfFunction> PdfFunction::parseNested(const PdfValue& raw, const PdfValue& value,
                                                      ParseContext& context) {
    ParseNesting::Level level(context.nesting(), raw);
    if (!level.ok() || !context.countFunction())
        return nullptr;

    const PdfDict* dict = nullptr;
    if (value.isStream() || value.isDict()) {
        dict = value.getDictOrStreamDict();
    } else if (value.isName()) {
        if (std::strcmp(value.getName(), "Identity") == 0)
            return std::make_unique<IdentityFunction>();
        reportError(-1, "unknown function name /%s", value.getName());
        return nullptr;
    }
    if (!dict) {
        reportError(-1, "function is a %s, not a dictionary or stream", value.typeName());
        return nullptr;
    }

    PdfValue type;
    dict->lookup("FunctionType", type);
    if (!type.isInt()) {
        reportError(-1, "function has no integer FunctionType");
        return nullptr;
    }
    std::unique_ptr<PdfFunction> function;
    switch (type.getInt()) {
        case kSampledType:
            function = std::make_unique<SampledFunction>(value, dict);
            break;
        case kExponentialType:
            function = std::make_unique<ExponentialFunction>(dict);
            break;
        case kStitchingType:
            function = std::make_unique<StitchingFunction>(dict, context);
            break;
        case kCalculatorType:
            function = std::make_unique<CalculatorFunction>(value, dict);
            break;
        default:
            reportError(-1, "unknown function type %d", type.getInt());
            return nullptr;
    }
    if (!function->isOk())
        return nullptr;
    return function;
}

bool PdfFunction::readNumberArray(const PdfValue& array, double* out, int count) {
    if (!array.isArray() || array.getArray()->getLength() != count)
        return false;
    double values[2 * kMaxInputs];
    // Callers read at most 2 x 32 numbers at a time; more never matches.
    if (count > 2 * kMaxInputs)
        return false;
    PdfValue element;
    for (int i = 0; i < count; ++i) {
        array.getArray()->get(i, element);
        if (!element.isNum())
            return false;
        values[i] = element.getNum();
    }
    std::memcpy(out, values, sizeof(double) * size_t(count));
    return true;
}

namespace {

// Reads the pairs of a Domain or Range array into pairs; count receives the
// number of pairs. False after an error report.
bool readPairs(const PdfValue& array, const char* key, double (*pairs)[2], int limit, int& count) {
    PdfArray* elements = array.getArray();
    const int n = elements->getLength() / 2;
    if (n > limit) {
        reportError(-1, "function %s has %d pairs; at most %d are allowed", key, n, limit);
        return false;
    }
    PdfValue element;
    for (int i = 0; i < 2 * n; ++i) {
        elements->get(i, element);
        if (!element.isNum()) {
            reportError(-1, "function %s holds a %s, not a number", key, element.typeName());
            return false;
        }
        pairs[i / 2][i % 2] = element.getNum();
    }
    count = n;
    return true;
}

}  // namespace

bool PdfFunction::readDomainAndRange(const PdfDict* dict) {
    PdfValue array;
    dict->lookup("Domain", array);
    if (!array.isArray()) {
        reportError(-1, "function has no Domain array");
        return false;
    }
    if (!readPairs(array, "Domain", m_domain, kMaxInputs, m_inputCount))
        return false;

    dict->lookup("Range", array);
    if (array.isArray()) {
        m_hasRange = true;
        if (!readPairs(array, "Range", m_range, kMaxOutputs, m_outputCount))
            return false;
    } else {
        m_hasRange = false;
        m_outputCount = 0;
    }
    return true;
}

// ---------------------------------------------------------------------------

IdentityFunction::IdentityFunction() {
    m_inputCount = kMaxInputs;
    m_outputCount = kMaxOutputs;
    for (int i = 0; i < kMaxInputs; ++i) {
        m_domain[i][0] = 0;
        m_domain[i][1] = 1;
    }
}

std::unique_ptr<PdfFunction> IdentityFunction::copy() const {
    return std::make_unique<IdentityFunction>();
}

void IdentityFunction::transform(const double* in, double* out) {
    for (int i = 0; i < kMaxOutputs; ++i)
        out[i] = in[i];
}

// ---------------------------------------------------------------------------

ExponentialFunction::ExponentialFunction(const PdfDict* dict) {
    if (!readDomainAndRange(dict))
        return;
    if (m_inputCount != 1) {
        reportError(-1, "exponential function has %d inputs; it takes one", m_inputCount);
        return;
    }

    PdfValue array;
    dict->lookup("C0", array);
    if (array.isArray()) {
        const int length = array.getArray()->getLength();
        if (m_hasRange && length != m_outputCount) {
            reportError(-1, "exponential function C0 has %d values for %d outputs", length, m_outputCount);
            return;
        }
        // Outputs are kept in arrays of 32; a longer C0 cannot be evaluated.
        if (length > kMaxOutputs) {
            reportError(-1, "exponential function C0 has %d values; at most %d are allowed", length,
                        kMaxOutputs);
            return;
        }
        if (!readNumberArray(array, m_c0, length)) {
            reportError(-1, "exponential function C0 holds something other than numbers");
            return;
        }
        m_outputCount = length;
    } else {
        if (m_hasRange && m_outputCount != 1) {
            reportError(-1, "exponential function without C0 has %d outputs", m_outputCount);
            return;
        }
        m_outputCount = 1;
        m_c0[0] = 0;
    }

    dict->lookup("C1", array);
    if (array.isArray()) {
        if (!readNumberArray(array, m_c1, m_outputCount)) {
            reportError(-1, "exponential function C1 is not %d numbers", m_outputCount);
            return;
        }
    } else {
        if (m_outputCount != 1) {
            reportError(-1, "exponential function without C1 has %d outputs", m_outputCount);
            return;
        }
        m_c1[0] = 1;
    }

    PdfValue exponent;
    dict->lookup("N", exponent);
    if (!exponent.isNum()) {
        reportError(-1, "exponential function has no exponent N");
        return;
    }
    m_exponent = exponent.getNum();
    m_ok = true;
}

std::unique_ptr<PdfFunction> ExponentialFunction::copy() const {
    return std::unique_ptr<PdfFunction>(new ExponentialFunction(*this));
}

void ExponentialFunction::transform(const double* in, double* out) {
    double x = in[0];
    if (x < m_domain[0][0]) {
        x = m_domain[0][0];
    } else if (x > m_domain[0][1]) {
        x = m_domain[0][1];
    }
    const double power = std::pow(x, m_exponent);
    for (int i = 0; i < m_outputCount; ++i) {
        double v = m_c0[i] + power * (m_c1[i] - m_c0[i]);
        if (m_hasRange) {
            if (v < m_range[i][0]) {
                v = m_range[i][0];
            } else if (v > m_range[i][1]) {
                v = m_range[i][1];
            }
        }
        out[i] = v;
    }
}

// ---------------------------------------------------------------------------

StitchingFunction::StitchingFunction(const PdfDict* dict, ParseContext& context) {
    if (!readDomainAndRange(dict))
        return;
    if (m_inputCount != 1) {
        reportError(-1, "stitching function has %d inputs; it takes one", m_inputCount);
        return;
    }
    PdfValue list;
    dict->lookup("Functions", list);
    if (!list.isArray()) {
        reportError(-1, "stitching function has no Functions array");
        return;
    }
    const PdfArray* functions = list.getArray();
    const int k = functions->getLength();
    if (k < 1) {
        reportError(-1, "stitching function has no sub-functions");
        return;
    }
    m_functions = std::make_unique<std::unique_ptr<PdfFunction>[]>(size_t(k));
    PdfValue raw;
    PdfValue element;
    for (int i = 0; i < k; ++i) {
        functions->getRaw(i, raw);
        functions->get(i, element);
        m_functions[i] = parseNested(raw, element, context);
        if (!m_functions[i])
            return;
        // Every interval, the first included, feeds its sub-function one
        // value, and all of them fill the same outputs.
        if (m_functions[i]->getInputCount() != 1) {
            reportError(-1, "stitching sub-function %d has %d inputs", i, m_functions[i]->getInputCount());
            return;
        }
        if (m_functions[i]->getOutputCount() != m_functions[0]->getOutputCount()) {
            reportError(-1, "stitching sub-functions differ in their output counts");
            return;
        }
    }
    m_count = k;

    m_bounds = std::make_unique<double[]>(size_t(k) + 1);
    m_encode = std::make_unique<double[]>(2 * size_t(k));
    m_scale = std::make_unique<double[]>(size_t(k));
    PdfValue array;
    dict->lookup("Bounds", array);
    if (!array.isArray() || array.getArray()->getLength() != k - 1) {
        reportError(-1, "stitching function Bounds is not %d numbers", k - 1);
        return;
    }
    m_bounds[0] = m_domain[0][0];
    m_bounds[k] = m_domain[0][1];
    for (int i = 0; i < k - 1; ++i) {
        array.getArray()->get(i, element);
        if (!element.isNum()) {
            reportError(-1, "stitching function Bounds holds a %s", element.typeName());
            return;
        }
        m_bounds[i + 1] = element.getNum();
    }
    dict->lookup("Encode", array);
    if (!array.isArray() || array.getArray()->getLength() != 2 * k) {
        reportError(-1, "stitching function Encode is not %d numbers", 2 * k);
        return;
    }
    for (int i = 0; i < 2 * k; ++i) {
        array.getArray()->get(i, element);
        if (!element.isNum()) {
            reportError(-1, "stitching function Encode holds a %s", element.typeName());
            return;
        }
        m_encode[i] = element.getNum();
    }
    for (int i = 0; i < k; ++i) {
        const double width = m_bounds[i + 1] - m_bounds[i];
        m_scale[i] = width == 0 ? 0 : (m_encode[2 * i + 1] - m_encode[2 * i]) / width;
    }
    m_ok = true;
}

StitchingFunction::StitchingFunction(const StitchingFunction& other)
    : PdfFunction(other), m_count(other.m_count), m_ok(other.m_ok) {
    const size_t k = size_t(m_count);
    m_functions = std::make_unique<std::unique_ptr<PdfFunction>[]>(k);
    for (size_t i = 0; i < k; ++i)
        m_functions[i] = other.m_functions[i]->copy();
    m_bounds = std::make_unique<double[]>(k + 1);
    m_encode = std::make_unique<double[]>(2 * k);
    m_scale = std::make_unique<double[]>(k);
    std::memcpy(m_bounds.get(), other.m_bounds.get(), sizeof(double) * (k + 1));
    std::memcpy(m_encode.get(), other.m_encode.get(), sizeof(double) * 2 * k);
    std::memcpy(m_scale.get(), other.m_scale.get(), sizeof(double) * k);
}

StitchingFunction::~StitchingFunction() = default;

std::unique_ptr<PdfFunction> StitchingFunction::copy() const {
    return std::unique_ptr<PdfFunction>(new StitchingFunction(*this));
}

void StitchingFunction::transform(const double* in, double* out) {
    double x = in[0];
    if (x < m_domain[0][0]) {
        x = m_domain[0][0];
    } else if (x > m_domain[0][1]) {
        x = m_domain[0][1];
    }
    // An input on an interior bound belongs to the interval that starts there.
    int i = 0;
    while (i < m_count - 1 && !(x < m_bounds[i + 1]))
        ++i;
    const double t = (x - m_bounds[i]) * m_scale[i] + m_encode[2 * i];
    m_functions[i]->transform(&t, out);
}

}  // namespace rendova
