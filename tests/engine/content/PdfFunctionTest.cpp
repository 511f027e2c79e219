#include "engine/content/PdfFunction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/content/SampledFunction.h"
#include "tests/engine/content/ContentTestSupport.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::ObjectDocument;
using test::streamValue;
using test::value;

std::unique_ptr<PdfFunction> parseText(const std::string& text) {
    return PdfFunction::parse(value(text));
}

// Evaluates a function of up to 32 inputs into a vector of its outputs.
std::vector<double> eval(PdfFunction& f, std::initializer_list<double> inputs, int outputs = -1) {
    double in[PdfFunction::kMaxInputs] = {};
    double out[PdfFunction::kMaxOutputs] = {};
    int i = 0;
    for (double v : inputs)
        in[i++] = v;
    f.transform(in, out);
    const int n = outputs >= 0 ? outputs : f.getOutputCount();
    return std::vector<double>(out, out + n);
}

double eval1(PdfFunction& f, double x) {
    return eval(f, {x}, 1)[0];
}

// --- Common entries ----------------------------------------------------------

TEST(PdfFunctionParse, IdentityIsTheOnlyName) {
    auto identity = parseText("/Identity");
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->getType(), PdfFunction::kIdentityType);
    EXPECT_EQ(identity->getInputCount(), 32);
    double in[32];
    double out[32];
    for (int i = 0; i < 32; ++i)
        in[i] = i * 1.5 - 3;
    identity->transform(in, out);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(out[i], in[i]);

    ErrorCapture errors;
    EXPECT_FALSE(parseText("/Default"));
    EXPECT_FALSE(parseText("5"));
    EXPECT_FALSE(parseText("[/Identity]"));
    EXPECT_EQ(errors.count(), 3u);
}

TEST(PdfFunctionParse, TypeDomainAndRangeMustBeWellFormed) {
    ErrorCapture errors;
    EXPECT_FALSE(parseText("<< /Domain [0 1] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2.0 /Domain [0 1] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 1 /Domain [0 1] >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 5 /Domain [0 1] >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 /a] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] /Range [0 (1)] /N 1 >>"));
    std::string pairs;
    for (int i = 0; i < 33; ++i)
        pairs += " 0 1";
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] /Range [" + pairs + "] /N 1 >>"));
    EXPECT_EQ(errors.count(), 8u);
}

// --- Exponential -------------------------------------------------------------

TEST(PdfFunctionExponential, DefaultsMapXToX) {
    auto f = parseText("<< /FunctionType 2 /Domain [0 1] /N 1 >>");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->getOutputCount(), 1);
    EXPECT_DOUBLE_EQ(eval1(*f, 0.3), 0.3);
    // Inputs are limited to the domain.
    EXPECT_DOUBLE_EQ(eval1(*f, 2), 1);
    EXPECT_DOUBLE_EQ(eval1(*f, -1), 0);
}

TEST(PdfFunctionExponential, InterpolatesEachOutputAndLimitsToTheRange) {
    auto f =
        parseText("<< /FunctionType 2 /Domain [0 1] /C0 [0 0.5 1] /C1 [1 1 3] /N 2 /Range [0 1 0 1 0 2] >>");
    ASSERT_TRUE(f);
    const std::vector<double> out = eval(*f, {0.5});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_DOUBLE_EQ(out[0], 0.25);
    EXPECT_DOUBLE_EQ(out[1], 0.625);
    EXPECT_DOUBLE_EQ(out[2], 1.5);
    EXPECT_DOUBLE_EQ(eval(*f, {1})[2], 2);  // 3, limited to the range
}

TEST(PdfFunctionExponential, OutputCountsMustAgree) {
    ErrorCapture errors;
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] /Range [0 1 0 1] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] /Range [0 1] /C0 [0 0] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] /C0 [0 0] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] /C0 [0 0] /C1 [1 /x] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1 0 1] /N 1 >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] >>"));
    std::string many;
    for (int i = 0; i < 33; ++i)
        many += " 0";
    EXPECT_FALSE(parseText("<< /FunctionType 2 /Domain [0 1] /C0 [" + many + "] /C1 [" + many + "] /N 1 >>"));
    EXPECT_EQ(errors.count(), 7u);
}

// --- Stitching ---------------------------------------------------------------

const char* const kTwoPieces =
    "<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1]"
    " /Functions [<< /FunctionType 2 /Domain [0 1] /N 1 >>"
    "             << /FunctionType 2 /Domain [0 1] /C0 [10] /C1 [20] /N 1 >>] >>";

TEST(PdfFunctionStitching, AnInteriorBoundBelongsToTheFollowingPiece) {
    auto f = parseText(kTwoPieces);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->getType(), PdfFunction::kStitchingType);
    EXPECT_EQ(f->getOutputCount(), 0);  // no Range of its own
    EXPECT_DOUBLE_EQ(eval1(*f, 0.5), 10);
    EXPECT_DOUBLE_EQ(eval1(*f, 0.25), 0.5);  // encoded to 0.25 x 2
    EXPECT_DOUBLE_EQ(eval1(*f, 0.75), 15);
    EXPECT_DOUBLE_EQ(eval1(*f, 1), 20);
    // Below the domain: the first piece at the domain's start.
    EXPECT_DOUBLE_EQ(eval1(*f, -4), 0);
    auto copy = f->copy();
    f.reset();
    EXPECT_DOUBLE_EQ(eval1(*copy, 0.75), 15);
}

TEST(PdfFunctionStitching, EqualBoundsGiveAnEmptyPiece) {
    auto f = parseText(
        "<< /FunctionType 3 /Domain [0 1] /Bounds [0.5 0.5] /Encode [0 1 0 1 0 1] /Functions ["
        " << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [2] /N 1 >>"
        " << /FunctionType 2 /Domain [0 1] /C0 [3] /C1 [4] /N 1 >>"
        " << /FunctionType 2 /Domain [0 1] /C0 [5] /C1 [6] /N 1 >>] >>");
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(eval1(*f, 0.5), 5);
    EXPECT_DOUBLE_EQ(eval1(*f, 0.25), 1.5);
}

TEST(PdfFunctionStitching, EverySubFunctionTakesOneInput) {
    ErrorCapture errors;
    // The identity takes 32 inputs; stitching hands it one.
    EXPECT_FALSE(
        parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions [/Identity] >>"));
    EXPECT_TRUE(errors.contains("sub-function 0 has 32 inputs"));
    EXPECT_FALSE(
        parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1] /Functions ["
                  " << /FunctionType 2 /Domain [0 1] /N 1 >> /Identity] >>"));
}

TEST(PdfFunctionStitching, MalformedEntriesAreRefused) {
    const std::string pieces =
        " /Functions [<< /FunctionType 2 /Domain [0 1] /N 1 >> << /FunctionType 2 /Domain [0 1] /N 2 >>] >>";
    ErrorCapture errors;
    EXPECT_TRUE(parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1]" + pieces));
    EXPECT_FALSE(parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1 0 1]" + pieces));
    EXPECT_FALSE(parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0]" + pieces));
    EXPECT_FALSE(parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [/a] /Encode [0 1 0 1]" + pieces));
    EXPECT_FALSE(parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 (1)]" + pieces));
    EXPECT_FALSE(parseText("<< /FunctionType 3 /Domain [0 1 0 1] /Bounds [0.5] /Encode [0 1 0 1]" + pieces));
    EXPECT_FALSE(parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [] /Functions [] >>"));
    EXPECT_FALSE(parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions 5 >>"));
    EXPECT_FALSE(
        parseText("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1] /Functions ["
                  " << /FunctionType 2 /Domain [0 1] /N 1 >> << /FunctionType 2 /Domain [0 1] /C0 [0 0] /C1 "
                  "[1 1] /N 1 >>] >>"));
    EXPECT_EQ(errors.count(), 8u);
}

TEST(PdfFunctionStitching, ACycleIsReportedAndFailsTheParse) {
    ObjectDocument doc;
    doc.pdf.object(1, "<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions [1 0 R] >>")
        .object(2, "<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions [3 0 R] >>")
        .object(3, "<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions [2 0 R] >>");
    doc.open();
    for (int num : {1, 2}) {
        ErrorCapture errors;
        EXPECT_FALSE(PdfFunction::parse(doc.fetch(num)));
        EXPECT_TRUE(errors.contains("refers to itself"));
    }
}

TEST(PdfFunctionStitching, NestingIsLimited) {
    const auto nested = [](int levels) {
        std::string text = "<< /FunctionType 2 /Domain [0 1] /N 1 >>";
        for (int i = 0; i < levels; ++i) {
            text = "<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions [" + text + "] >>";
        }
        return text;
    };
    auto deep = parseText(nested(9));  // ten levels with the exponential
    ASSERT_TRUE(deep);
    EXPECT_DOUBLE_EQ(eval1(*deep, 0.5), 0.5);
    ErrorCapture errors;
    EXPECT_FALSE(parseText(nested(10)));
    EXPECT_TRUE(errors.contains("nested more than 10"));
}

TEST(PdfFunctionStitching, SharedPiecesCannotMultiplyWithoutBound) {
    // 1 + 40 + 40 x 40 functions through shared references.
    std::string forty;
    std::string fortyThree;
    std::string bounds;
    std::string encode;
    for (int i = 0; i < 40; ++i) {
        forty += " 2 0 R";
        fortyThree += " 3 0 R";
        if (i)
            bounds += " " + std::to_string(i / 40.0);
        encode += " 0 1";
    }
    const std::string head =
        "<< /FunctionType 3 /Domain [0 1] /Bounds [" + bounds + "] /Encode [" + encode + "] /Functions [";
    ObjectDocument doc;
    doc.pdf.object(1, head + forty + "] >>")
        .object(2, head + fortyThree + "] >>")
        .object(3, "<< /FunctionType 2 /Domain [0 1] /N 1 >>");
    doc.open();
    ErrorCapture errors;
    EXPECT_TRUE(PdfFunction::parse(doc.fetch(2)));
    EXPECT_FALSE(PdfFunction::parse(doc.fetch(1)));
    EXPECT_TRUE(errors.contains("more than 1024"));
}

// --- Sampled -----------------------------------------------------------------

std::unique_ptr<PdfFunction> sampled(const std::string& entries, const std::string& data) {
    return PdfFunction::parse(streamValue("<< /FunctionType 0 " + entries + " >>", data));
}

TEST(PdfFunctionSampled, InterpolatesOnOneInput) {
    auto f = sampled("/Domain [0 1] /Range [0 1] /Size [3] /BitsPerSample 8", std::string("\x00\x80\xff", 3));
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(eval1(*f, 0), 0);
    EXPECT_DOUBLE_EQ(eval1(*f, 0.5), 128 / 255.0);  // on the grid
    EXPECT_DOUBLE_EQ(eval1(*f, 0.25), 64 / 255.0);  // halfway between
    EXPECT_DOUBLE_EQ(eval1(*f, 1), 1);
    EXPECT_DOUBLE_EQ(eval1(*f, 7), 1);  // limited to the domain's end
}

TEST(PdfFunctionSampled, InterpolatesOnTwoInputsFirstInputFastest) {
    // Grid (in0, in1): (0,0) 0, (1,0) 0.2, (0,1) 0.4, (1,1) 1.
    auto f = sampled("/Domain [0 1 0 1] /Range [0 1] /Size [2 2] /BitsPerSample 8",
                     std::string("\x00\x33\x66\xff", 4));
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(eval(*f, {1, 0})[0], 0.2);
    EXPECT_DOUBLE_EQ(eval(*f, {0, 1})[0], 0.4);
    EXPECT_DOUBLE_EQ(eval(*f, {0.5, 0.5})[0], 0.4);
    // First input: 0.05 below and 0.55 above; then 0.25 x 0.05 + 0.75 x 0.55.
    EXPECT_NEAR(eval(*f, {0.25, 0.75})[0], 0.425, 1e-12);
}

TEST(PdfFunctionSampled, OutputsOfAGridPointLieTogether) {
    // Two outputs per point: (0, 1) at the first point, (1, 0) at the second.
    auto f = sampled("/Domain [0 1] /Range [0 1 0 1] /Size [2] /BitsPerSample 8",
                     std::string("\x00\xff\xff\x00", 4));
    ASSERT_TRUE(f);
    const std::vector<double> out = eval(*f, {0.25});
    EXPECT_DOUBLE_EQ(out[0], 0.25);
    EXPECT_DOUBLE_EQ(out[1], 0.75);
}

TEST(PdfFunctionSampled, EncodeAndDecodeMapBothEnds) {
    // Encode runs the domain backwards over the grid; Decode stretches to
    // 0 .. 2, which the range cuts at 1.
    auto f = sampled("/Domain [0 1] /Range [0 1] /Size [3] /BitsPerSample 8 /Encode [2 0] /Decode [0 2]",
                     std::string("\x00\x33\xff", 3));
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(eval1(*f, 1), 0);
    EXPECT_DOUBLE_EQ(eval1(*f, 0.5), 0.4);
    EXPECT_DOUBLE_EQ(eval1(*f, 0), 1);
}

TEST(PdfFunctionSampled, ReadsEverySampleWidth) {
    // 16 and 32 bits big-endian.
    auto wide =
        sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 16", std::string("\x80\x00\xff\xff", 4));
    EXPECT_DOUBLE_EQ(eval1(*wide, 0), 32768 / 65535.0);
    auto widest =
        sampled("/Domain [0 1] /Range [0 1] /Size [1] /BitsPerSample 32", std::string("\x40\x00\x00\x00", 4));
    EXPECT_DOUBLE_EQ(eval1(*widest, 0), 1073741824 / 4294967295.0);
    // 4 bits: two samples a byte, most significant first.
    auto nibbles = sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 4", std::string("\x5f", 1));
    EXPECT_DOUBLE_EQ(eval1(*nibbles, 0), 5 / 15.0);
    EXPECT_DOUBLE_EQ(eval1(*nibbles, 1), 1);
    // 12 bits: two samples across three bytes.
    auto twelve =
        sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 12", std::string("\xab\xcd\xef", 3));
    EXPECT_DOUBLE_EQ(eval1(*twelve, 0), 0xabc / 4095.0);
    EXPECT_DOUBLE_EQ(eval1(*twelve, 1), 0xdef / 4095.0);
    // 1 bit and the odd width 24.
    auto bits = sampled("/Domain [0 1] /Range [0 1] /Size [8] /BitsPerSample 1", std::string("\x01", 1));
    EXPECT_DOUBLE_EQ(eval1(*bits, 6 / 7.0), 0);
    EXPECT_DOUBLE_EQ(eval1(*bits, 1), 1);
    auto odd =
        sampled("/Domain [0 1] /Range [0 1] /Size [1] /BitsPerSample 24", std::string("\xff\xff\xff", 3));
    EXPECT_DOUBLE_EQ(eval1(*odd, 0), 1);
}

TEST(PdfFunctionSampled, SixteenInputsAreTheLimit) {
    std::string domain;
    std::string size;
    for (int i = 0; i < 17; ++i) {
        domain += " 0 1";
        size += " 2";
    }
    const std::string data(1 << 17, '\x80');
    auto sixteen = sampled("/Domain [" + domain.substr(0, 16 * 4) + "] /Range [0 1] /Size [" +
                               size.substr(0, 32) + "] /BitsPerSample 8",
                           data);
    ASSERT_TRUE(sixteen);
    std::initializer_list<double> halves = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5,
                                            0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
    EXPECT_DOUBLE_EQ(eval(*sixteen, halves)[0], 128 / 255.0);
    ErrorCapture errors;
    EXPECT_FALSE(
        sampled("/Domain [" + domain + "] /Range [0 1] /Size [" + size + "] /BitsPerSample 8", data));
    EXPECT_TRUE(errors.contains("16"));
}

TEST(PdfFunctionSampled, SizesAndBitsAreChecked) {
    const std::string data(16, '\0');
    ErrorCapture errors;
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [0] /BitsPerSample 8", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [-2] /BitsPerSample 8", data));
    EXPECT_FALSE(sampled("/Domain [0 1 0 1] /Range [0 1] /Size [2] /BitsPerSample 8", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [2.0] /BitsPerSample 8", data));
    // The grid of 2^32 samples cannot be counted in a 32-bit size.
    EXPECT_FALSE(sampled("/Domain [0 1 0 1] /Range [0 1] /Size [65536 65536] /BitsPerSample 8", data));
    EXPECT_FALSE(
        sampled("/Domain [0 1 0 1] /Range [0 1 0 1 0 1] /Size [2147483647 2] /BitsPerSample 8", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 0", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 33", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample -8", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [2]", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Size [2] /BitsPerSample 8", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 8 /Encode [0 /a]", data));
    EXPECT_FALSE(sampled("/Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 8 /Decode [0 (1)]", data));
    EXPECT_FALSE(parseText("<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [2] /BitsPerSample 8 >>"));
    EXPECT_EQ(errors.count(), 14u);
}

TEST(PdfFunctionSampled, MissingSamplesReadAsZero) {
    ErrorCapture errors;
    auto f = sampled("/Domain [0 1] /Range [0 1] /Size [4] /BitsPerSample 8", std::string("\xff\xff", 2));
    ASSERT_TRUE(f);
    EXPECT_TRUE(errors.contains("ends after 2 of 4"));
    EXPECT_DOUBLE_EQ(eval1(*f, 1 / 3.0), 1);
    EXPECT_DOUBLE_EQ(eval1(*f, 1), 0);
    // A vast grid over a short stream costs only what the stream holds.
    auto vast = sampled("/Domain [0 1 0 1] /Range [0 1] /Size [10000 10000] /BitsPerSample 8", "\xff");
    ASSERT_TRUE(vast);
    EXPECT_DOUBLE_EQ(eval(*vast, {0, 0})[0], 1);
    EXPECT_DOUBLE_EQ(eval(*vast, {1, 1})[0], 0);
}

TEST(PdfFunctionSampled, AnEmptyDomainEvaluatesSafely) {
    auto f = sampled("/Domain [0 0] /Range [0 1] /Size [2] /BitsPerSample 8", std::string("\x33\xff", 2));
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(eval1(*f, 0), 0.2);  // 0 x infinity is NaN, taken as 0
    EXPECT_DOUBLE_EQ(eval1(*f, 1), 1);
    auto copy = f->copy();
    f.reset();
    EXPECT_DOUBLE_EQ(eval1(*copy, 1), 1);
}

}  // namespace
}  // namespace rendova
