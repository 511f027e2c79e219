#pragma once

#include <memory>
#include <vector>

#include "engine/content/PdfFunction.h"

namespace rendova {

// A sampled function (type 0): a grid of samples read from the function's
// stream, with multilinear interpolation between the grid points. Up to 16
// inputs. Samples are converted to doubles (0 to 1) once at parse time.
// Owned like every PdfFunction; transform() uses the object's corner buffer.
class SampledFunction : public PdfFunction {
public:
    // The format limits sampled functions to 16 inputs; 2^16 corners are
    // gathered for each output.
    static constexpr int kMaxSampledInputs = 16;

    // value is the function's stream; dict its dictionary.
    SampledFunction(const PdfValue& value, const PdfDict* dict);
    std::unique_ptr<PdfFunction> copy() const override;
    int getType() const override { return kSampledType; }
    void transform(const double* in, double* out) override;
    bool isOk() const override { return m_ok; }

    int getSize(int i) const { return m_size[i]; }
    int getSampleCount() const { return m_sampleCount; }

private:
    SampledFunction(const SampledFunction& other);
    // Reads the grid from the stream; false after an error report.
    bool readSamples(const PdfValue& value, int bits);

    int m_size[kMaxInputs] = {};
    double m_encode[kMaxInputs][2] = {};
    double m_decode[kMaxOutputs][2] = {};
    double m_inputMultiplier[kMaxInputs] = {};
    int m_indexMultiplier[kMaxInputs] = {};
    // The samples of the grid that the stream's data holds, in grid order;
    // the samples beyond its end count as 0.
    std::vector<double> m_samples;
    int m_sampleCount = 0;
    std::unique_ptr<double[]> m_corners;  // 2^m
    bool m_ok = false;
};

}  // namespace rendova
