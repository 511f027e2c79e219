#pragma once

#include <memory>

#include "engine/content/ParseNesting.h"

namespace rendova {

class PdfDict;
class PdfValue;

// A function of the document: m input numbers to n output numbers, evaluated
// in double precision. Tint transforms of Separation and DeviceN spaces,
// colour functions of shadings and transfer functions are functions.
//
// Owned by the object that parsed or copied it. transform() may use scratch
// memory of the object, so one function serves one thread at a time. Throws
// MemoryException only.
class PdfFunction {
public:
    static constexpr int kMaxInputs = 32;
    static constexpr int kMaxOutputs = 32;

    // Answers of getType().
    enum Type : int {
        kIdentityType = -1,
        kSampledType = 0,
        kExponentialType = 2,
        kStitchingType = 3,
        kCalculatorType = 4,
    };

    // State of one parse: the nesting of stitching functions and the number
    // of functions built so far.
    class ParseContext {
    public:
        ParseContext();
        ParseNesting& nesting() { return m_nesting; }
        // Counts one more function; false (after a report) past the budget.
        bool countFunction();

    private:
        ParseNesting m_nesting;
        int m_built = 0;
    };

    virtual ~PdfFunction();
    virtual std::unique_ptr<PdfFunction> copy() const = 0;
    virtual int getType() const = 0;
    // in holds getInputCount() values, out receives getOutputCount() values
    // (a stitching function without Range writes its sub-functions' outputs;
    // the identity reads and writes all 32). Callers pass arrays of
    // kMaxInputs and kMaxOutputs.
    virtual void transform(const double* in, double* out) = 0;
    virtual bool isOk() const = 0;

    int getInputCount() const { return m_inputCount; }
    int getOutputCount() const { return m_outputCount; }
    bool hasRange() const { return m_hasRange; }
    double getDomainMin(int i) const { return m_domain[i][0]; }
    double getDomainMax(int i) const { return m_domain[i][1]; }
    double getRangeMin(int i) const { return m_range[i][0]; }
    double getRangeMax(int i) const { return m_range[i][1]; }

    // A function from a stream (its dictionary and, for sampled and
    // calculator functions, its data), a dictionary, or the name Identity.
    // Null after an error report when the value does not make a usable
    // function. The caller owns the result.
    static std::unique_ptr<PdfFunction> parse(const PdfValue& value);
    // The same inside another parse: raw is the element as stored (for the
    // cycle check), value the same element resolved.
    static std::unique_ptr<PdfFunction> parseNested(const PdfValue& raw, const PdfValue& value,
                                                    ParseContext& context);

    // Fills count doubles from an array value of exactly count numbers
    // (integers or reals). False, leaving out unchanged, otherwise.
    static bool readNumberArray(const PdfValue& array, double* out, int count);

protected:
    PdfFunction() = default;
    PdfFunction(const PdfFunction&) = default;

    // Reads Domain (required) and Range (optional) of the dictionary; false
    // after an error report when they are malformed.
    bool readDomainAndRange(const PdfDict* dict);

    int m_inputCount = 0;
    int m_outputCount = 0;
    double m_domain[kMaxInputs][2] = {};
    double m_range[kMaxOutputs][2] = {};
    bool m_hasRange = false;
};

// The function named Identity: all 32 values pass through unchanged.
class IdentityFunction : public PdfFunction {
public:
    IdentityFunction();
    std::unique_ptr<PdfFunction> copy() const override;
    int getType() const override { return kIdentityType; }
    void transform(const double* in, double* out) override;
    bool isOk() const override { return true; }
};

// Exponential interpolation (type 2): one input x, outputs
// C0 + x^N (C1 - C0).
class ExponentialFunction : public PdfFunction {
public:
    explicit ExponentialFunction(const PdfDict* dict);
    std::unique_ptr<PdfFunction> copy() const override;
    int getType() const override { return kExponentialType; }
    void transform(const double* in, double* out) override;
    bool isOk() const override { return m_ok; }

private:
    ExponentialFunction(const ExponentialFunction&) = default;

    double m_c0[kMaxOutputs] = {};
    double m_c1[kMaxOutputs] = {};
    double m_exponent = 1;
    bool m_ok = false;
};

// Stitching (type 3): one input; the domain is cut at the bounds into k
// intervals, each mapped through its encode pair into one sub-function.
class StitchingFunction : public PdfFunction {
public:
    StitchingFunction(const PdfDict* dict, ParseContext& context);
    ~StitchingFunction() override;
    std::unique_ptr<PdfFunction> copy() const override;
    int getType() const override { return kStitchingType; }
    void transform(const double* in, double* out) override;
    bool isOk() const override { return m_ok; }

    int getFunctionCount() const { return m_count; }
    PdfFunction* getFunction(int i) const { return m_functions[i].get(); }
    double getBound(int i) const { return m_bounds[i]; }

private:
    StitchingFunction(const StitchingFunction& other);

    int m_count = 0;
    std::unique_ptr<std::unique_ptr<PdfFunction>[]> m_functions;
    std::unique_ptr<double[]> m_bounds;  // m_count + 1
    std::unique_ptr<double[]> m_encode;  // 2 m_count
    std::unique_ptr<double[]> m_scale;   // m_count
    bool m_ok = false;
};

}  // namespace rendova
