#include "engine/content/CalculatorFunction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/engine/content/ContentTestSupport.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/Shell.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::streamValue;

// A calculator function of the given inputs whose program is body (the
// braces included), with outputs pairs of a wide range.
std::unique_ptr<PdfFunction> calculator(const std::string& body, int inputs, int outputs,
                                        const std::string& range = "-10000000000.0 10000000000.0") {
    std::string domain;
    std::string ranges;
    for (int i = 0; i < inputs; ++i)
        domain += " -1000 1000";
    for (int i = 0; i < outputs; ++i)
        ranges += " " + range;
    return PdfFunction::parse(
        streamValue("<< /FunctionType 4 /Domain [" + domain + "] /Range [" + ranges + "] >>", body));
}

std::vector<double> run(PdfFunction& f, std::initializer_list<double> inputs = {}) {
    double in[PdfFunction::kMaxInputs] = {};
    double out[PdfFunction::kMaxOutputs] = {};
    int i = 0;
    for (double v : inputs)
        in[i++] = v;
    f.transform(in, out);
    return std::vector<double>(out, out + f.getOutputCount());
}

// The program's results, bottom of the stack first.
std::vector<double> results(const std::string& program, int count) {
    auto f = calculator("{ " + program + " }", 0, count);
    if (!f) {
        ADD_FAILURE() << "not compiled: " << program;
        return {};
    }
    return run(*f);
}

std::vector<double> numbers(const std::string& text) {
    std::vector<double> v;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        v.push_back(std::strtod(word.c_str(), nullptr));
    return v;
}

// --- The examples of the format's description --------------------------------

TEST(CalculatorFunction, WorkedExamples) {
    EXPECT_EQ(results("2 3 add", 1), std::vector<double>{5});
    EXPECT_EQ(results("1 0.5 add", 1), std::vector<double>{1.5});
    EXPECT_EQ(results("90 sin", 1), std::vector<double>{1});
    EXPECT_EQ(results("0 1 atan", 1), std::vector<double>{0});
    EXPECT_EQ(results("8 1 bitshift", 1), std::vector<double>{16});
    EXPECT_EQ(results("8 -2 bitshift", 1), std::vector<double>{2});
    EXPECT_EQ(results("1 2 lt { 7 } { 9 } ifelse", 1), std::vector<double>{7});
    // Outputs are limited to the range.
    auto f = calculator("{ 5 }", 0, 1, "0 1");
    EXPECT_EQ(run(*f), std::vector<double>{1});
}

TEST(CalculatorFunction, InputsArriveAsRealsAndOutputsLeaveLastFirst) {
    // x y -> (x + y, x - y).
    auto f = calculator("{ 2 copy add 3 1 roll sub }", 2, 2);
    ASSERT_TRUE(f);
    EXPECT_EQ(run(*f, {5, 3}), (std::vector<double>{8, 2}));
    auto shift = calculator("{ cvi 2 bitshift }", 1, 1);
    EXPECT_EQ(run(*shift, {3.7}), std::vector<double>{12});
}

// Where an integer is needed a real gives its integer part, as mutool
// takes it (Ghostscript stops with a type error): a checkerboard written
// with floor, which gives reals, comes out as one.
TEST(CalculatorFunction, IntegerOperatorsTakeTheIntegerPartOfReals) {
    ErrorCapture errors;
    auto board = calculator("{ 4 mul floor exch 4 mul floor add 2 mod }", 2, 1);
    ASSERT_TRUE(board);
    EXPECT_EQ(run(*board, {0.3, 0.1}), std::vector<double>{1});
    EXPECT_EQ(run(*board, {0.3, 0.3}), std::vector<double>{0});
    EXPECT_EQ(run(*calculator("{ 2 bitshift }", 1, 1), {3.7}), std::vector<double>{12});
    EXPECT_EQ(run(*calculator("{ -7.9 2 idiv add }", 1, 1), {0}), std::vector<double>{-3});
    EXPECT_TRUE(errors.empty());
    // A boolean is still no integer.
    EXPECT_EQ(run(*calculator("{ pop true 2 mod }", 1, 1), {0}), std::vector<double>{0});
    EXPECT_TRUE(errors.contains("wants an integer"));
}

// --- Agreement with Ghostscript ----------------------------------------------

// Each program's results as Ghostscript (10.00) prints them, bottom of the
// stack first. Produced by
//   gs -q -dNODISPLAY -dNOSAFER all.ps
// where all.ps holds one line "[ <program> ] ==" per row and then "quit".
// Ghostscript's reals are single precision, hence the tolerance below.
struct GsRow {
    const char* program;
    const char* answer;
};
const GsRow kGhostscriptTable[] = {
    {"2 3 add", "5"},
    {"1 0.5 add", "1.5"},
    {"-2147483647 -1 add", "-2147483648"},
    {"5 3 sub", "2"},
    {"2.5 1 sub", "1.5"},
    {"4 5 mul", "20"},
    {"1.5 2 mul", "3.0"},
    {"-3 7 mul", "-21"},
    {"7 2 div", "3.5"},
    {"1 4 div", "0.25"},
    {"7 2 idiv", "3"},
    {"-7 2 idiv", "-3"},
    {"7 -2 idiv", "-3"},
    {"7 3 mod", "1"},
    {"-7 3 mod", "-1"},
    {"7 -3 mod", "1"},
    {"-3 abs", "3"},
    {"-2.5 abs", "2.5"},
    {"3 neg", "-3"},
    {"2.5 neg", "-2.5"},
    {"0 neg", "0"},
    {"2.3 ceiling", "3.0"},
    {"-2.3 ceiling", "-2.0"},
    {"4 ceiling", "4"},
    {"2.7 floor", "2.0"},
    {"-2.7 floor", "-3.0"},
    {"-4 floor", "-4"},
    {"2.5 round", "3.0"},
    {"2.4 round", "2.0"},
    {"-2.4 round", "-2.0"},
    {"-2.6 round", "-3.0"},
    {"7 round", "7"},
    {"2.7 truncate", "2.0"},
    {"-2.7 truncate", "-2.0"},
    {"2.7 cvi", "2"},
    {"-2.7 cvi", "-2"},
    {"3 cvr", "3.0"},
    {"16 sqrt", "4.0"},
    {"2 sqrt", "1.41421354"},
    {"90 sin", "1.0"},
    {"30 sin", "0.5"},
    {"-90 sin", "-1.0"},
    {"0 cos", "1.0"},
    {"60 cos", "0.5"},
    {"180 cos", "-1.0"},
    {"0 1 atan", "0.0"},
    {"1 0 atan", "90.0"},
    {"-1 0 atan", "270.0"},
    {"1 1 atan", "45.0"},
    {"0 -1 atan", "180.0"},
    {"-1 -1 atan", "225.0"},
    {"2 10 exp", "1024.0"},
    {"4 0.5 exp", "2.0"},
    {"2 -1 exp", "0.5"},
    {"100 log", "2.0"},
    {"0.001 log", "-3.0"},
    {"10 ln", "2.30258512"},
    {"1 ln", "0.0"},
    {"8 1 bitshift", "16"},
    {"8 -2 bitshift", "2"},
    {"1 0 bitshift", "1"},
    {"12 10 and", "8"},
    {"12 10 or", "14"},
    {"12 10 xor", "6"},
    {"5 not", "-6"},
    {"-1 not", "0"},
    {"1 2 3 3 1 roll", "3 1 2"},
    {"1 2 3 3 -1 roll", "2 3 1"},
    {"1 2 3 3 4 roll", "3 1 2"},
    {"1 2 3 4 5 3 -2 roll", "1 2 5 3 4"},
    {"1 2 3 0 0 roll", "1 2 3"},
    {"1 2 3 1 index", "1 2 3 2"},
    {"1 2 3 0 index", "1 2 3 3"},
    {"1 2 3 2 copy", "1 2 3 2 3"},
    {"1 2 0 copy", "1 2"},
    {"1 2 exch", "2 1"},
    {"1 2 3 pop", "1 2"},
    {"5 dup", "5 5"},
    {"1 2 lt {1} {0} ifelse", "1"},
    {"2 2 le {1} {0} ifelse", "1"},
    {"3 2 gt {1} {0} ifelse", "1"},
    {"2 2 ge {1} {0} ifelse", "1"},
    {"1.5 2 gt {1} {0} ifelse", "0"},
    {"2 2.0 eq {1} {0} ifelse", "1"},
    {"1 2 eq {1} {0} ifelse", "0"},
    {"1 2 ne {1} {0} ifelse", "1"},
    {"true true eq {1} {0} ifelse", "1"},
    {"true false ne {1} {0} ifelse", "1"},
    {"true false and {1} {0} ifelse", "0"},
    {"true false or {1} {0} ifelse", "1"},
    {"true true xor {1} {0} ifelse", "0"},
    {"false not {1} {0} ifelse", "1"},
    {"true {3} if", "3"},
    {"false {3} if 4", "4"},
    {"1 2 lt {2 3 lt {10} {20} ifelse} {30} ifelse", "10"},
    {"2 1 lt {10} {1 0 gt {20 21} {30} ifelse} ifelse", "20 21"},
    {"2 3 add 1 bitshift", "10"},
    {"7 2 div 2 mul cvi 3 idiv", "2"},
    {"0.5 2 mul 1 add", "2.0"},
    {"0.25 0.75 2 copy add 3 1 roll mul exch sub", "-0.8125"},
};

TEST(CalculatorFunctionGhostscript, AgreesOnEveryOperator) {
    for (const GsRow& row : kGhostscriptTable) {
        SCOPED_TRACE(row.program);
        const std::vector<double> expected = numbers(row.answer);
        const std::vector<double> actual = results(row.program, int(expected.size()));
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(actual[i], expected[i], 1e-6 * std::max(1.0, std::fabs(expected[i])));
        }
    }
}

// The table above is Ghostscript's own answer: when it is installed, ask it
// again.
TEST(CalculatorFunctionGhostscript, TableMatchesTheInstalledGhostscript) {
    if (std::system("gs --version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "Ghostscript is not installed";
    // The script goes in a folder of the test's own under the build tree,
    // whatever the working folder, and leaves with the test.
    const std::filesystem::path folder =
        std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "CalculatorFunctionGhostscript";
    std::filesystem::create_directories(folder);
    const std::string script = (folder / "calculator_table.ps").string();
    {
        std::ofstream out(script);
        for (const GsRow& row : kGhostscriptTable)
            out << "[ " << row.program << " ] ==\n";
        out << "quit\n";
    }
    const std::string output =
        test::runShell("gs -q -dNODISPLAY -dNOSAFER " + test::shellQuote(script)).second;
    std::filesystem::remove_all(folder);
    std::istringstream lines(output);
    for (const GsRow& row : kGhostscriptTable) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << row.program;
        EXPECT_EQ(line, "[" + std::string(row.answer) + "]") << row.program;
    }
}

// Where the calculator is defined to differ from Ghostscript, or where
// Ghostscript stops with an error and the calculator goes on. Each row names
// Ghostscript's answer and the reason.
struct Exception {
    const char* program;
    const char* ours;
    const char* ghostscript;
    const char* reason;
};
const Exception kExceptions[] = {
    {"-2.5 round", "-3", "-2.0", "a negative real rounds as ceiling(r - 0.5): halves go away from zero"},
    {"2147483647 1 add", "-2147483648", "2147483648", "integers are 32 bits and wrap; Ghostscript's are 64"},
    {"-2147483647 2 mul", "2", "-4294967294", "integers are 32 bits and wrap"},
    {"-2147483648 abs", "-2147483648", "2147483648", "an integer stays an integer, and wraps"},
    {"1 31 bitshift", "-2147483648", "2147483648", "integers are 32 bits"},
    {"-8 -1 bitshift", "2147483644", "-4", "a right shift is logical on 32 bits"},
    {"1 32 bitshift", "0", "4294967296", "a 32-bit value shifted by 32 or more is empty"},
    {"10000000000.0 cvi", "2147483647", "10000000000", "cvi saturates at the 32-bit limits"},
    {"3000000000 1 bitshift", "-2", "6000000000",
     "a literal beyond 32 bits is a real, whose integer part stops at 2147483647"},
    {"1 0 idiv", "0", "undefinedresult", "division by zero gives 0 (reported)"},
    {"1 0 mod", "0", "undefinedresult", "division by zero gives 0 (reported)"},
    {"0 0 atan", "0", "undefinedresult", "the angle of (0, 0) is 0"},
    {"1 0 div", "1e10", "undefinedresult", "the real quotient is infinite, limited to the range"},
    {"-1 sqrt", "-1e10", "rangecheck", "NaN becomes the low end of the range"},
    {"0 ln", "-1e10", "rangecheck", "minus infinity is limited to the range"},
    {"7.0 2 idiv", "3", "typecheck",
     "a real where an integer is wanted gives its integer part, as mutool takes it"},
    {"1 2 3 5 1 roll", "1 2 3", "stackunderflow", "a roll beyond the stack is skipped (reported)"},
    {"1 2 3 5 index", "1 2 3", "stackunderflow", "an index beyond the stack is skipped (reported)"},
    {"1 2 3 -1 index", "1 2 3", "rangecheck", "a negative index is skipped (reported)"},
    {"1 2 -1 copy", "1 2", "rangecheck", "a negative copy is skipped (reported)"},
};

TEST(CalculatorFunctionGhostscript, DefinedDifferences) {
    for (const Exception& row : kExceptions) {
        SCOPED_TRACE(std::string(row.program) + ": " + row.reason);
        const std::vector<double> expected = numbers(row.ours);
        ErrorCapture errors;
        const std::vector<double> actual = results(row.program, int(expected.size()));
        EXPECT_EQ(actual, expected);
    }
}

// --- Faults that must stay safe ------------------------------------------------

TEST(CalculatorFunctionSafety, DivisionByZeroIsReportedAndGivesZero) {
    ErrorCapture errors;
    EXPECT_EQ(results("7 0 idiv", 1), std::vector<double>{0});
    EXPECT_EQ(results("7 0 mod", 1), std::vector<double>{0});
    EXPECT_EQ(errors.count(), 2u);
    // The one quotient that overflows wraps.
    EXPECT_EQ(results("-2147483648 -1 idiv", 1), std::vector<double>{-2147483648.0});
    EXPECT_EQ(results("-2147483648 -1 mod", 1), std::vector<double>{0});
}

TEST(CalculatorFunctionSafety, StackLimitsAreKept) {
    ErrorCapture errors;
    // 101 pushes: the last one is dropped.
    std::string program;
    for (int i = 1; i <= 101; ++i)
        program += std::to_string(i) + " ";
    EXPECT_EQ(results(program, 1), std::vector<double>{100});
    EXPECT_TRUE(errors.contains("overflow"));
    errors.clear();
    // A copy that does not fit does nothing.
    std::string ninety;
    for (int i = 0; i < 90; ++i)
        ninety += "1 ";
    EXPECT_EQ(results(ninety + "2 11 copy", 1), std::vector<double>{2});
    EXPECT_TRUE(errors.contains("cannot copy 11"));
    errors.clear();
    // Pops from an empty stack give 0.
    EXPECT_EQ(results("pop pop add", 1), std::vector<double>{0});
    EXPECT_EQ(results("exch dup", 1), std::vector<double>{0});
    EXPECT_TRUE(errors.contains("underflow"));
}

TEST(CalculatorFunctionSafety, RollIndexAndTypesOutOfRange) {
    ErrorCapture errors;
    EXPECT_EQ(results("1 2 3 -1 1 roll", 3), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(results("1 2 3 3 -2147483648 roll", 3), (std::vector<double>{3, 1, 2}));
    EXPECT_EQ(results("1 2 3 3 2147483647 roll", 3), (std::vector<double>{3, 1, 2}));
    EXPECT_EQ(results("1 2 2147483647 index", 2), (std::vector<double>{1, 2}));
    EXPECT_EQ(results("1 2 -2147483648 index", 2), (std::vector<double>{1, 2}));
    EXPECT_EQ(results("1 2 2147483647 copy", 2), (std::vector<double>{1, 2}));
    EXPECT_EQ(results("1 2147483647 bitshift", 1), std::vector<double>{0});
    EXPECT_EQ(results("1 -2147483648 bitshift", 1), std::vector<double>{0});
    EXPECT_EQ(results("true 1 add", 1), std::vector<double>{1});
    EXPECT_EQ(results("1 1 and", 1), std::vector<double>{1});
    EXPECT_EQ(results("1 true and {5} {6} ifelse", 1), std::vector<double>{6});
    EXPECT_EQ(results("3 {5} if", 1), std::vector<double>{0});
}

TEST(CalculatorFunctionSafety, NotANumberBecomesTheRangeMinimum) {
    auto f = calculator("{ -1 sqrt 0 0 div }", 0, 2, "0.25 1");
    ASSERT_TRUE(f);
    EXPECT_EQ(run(*f), (std::vector<double>{0.25, 0.25}));
    auto cvi = calculator("{ 0 0 div cvi }", 0, 1);
    EXPECT_EQ(run(*cvi), std::vector<double>{0});
}

// --- Compilation -------------------------------------------------------------

TEST(CalculatorFunctionCompile, MalformedProgramsAreRefused) {
    const char* programs[] = {
        "2 3 add",                  // no opening brace
        "{ 2 3 add",                // no closing brace
        "{ 1 2 frobnicate }",       // unknown operator
        "{ true { 1 } }",           // block without if
        "{ true { 1 } { 2 } if }",  // two blocks for if
        "{ true { 1 } ifelse }",    // one block for ifelse
        "{ true { 1 } add }",
        "{ 1 if }",  // if is no plain operator
        "{ 1e10 }",  // exponents are not part of the number syntax
        "",
    };
    for (const char* program : programs) {
        ErrorCapture errors;
        EXPECT_FALSE(calculator(program, 0, 1)) << program;
        EXPECT_FALSE(errors.empty()) << program;
    }
    ErrorCapture errors;
    EXPECT_FALSE(PdfFunction::parse(test::value("<< /FunctionType 4 /Domain [0 1] /Range [0 1] >>")));
    EXPECT_FALSE(PdfFunction::parse(streamValue("<< /FunctionType 4 /Domain [0 1] >>", "{ }")));
}

TEST(CalculatorFunctionCompile, CommentsAndSpacingAreSkippedAndKeptInTheText) {
    const std::string body = "%head\n{%inner\r2 3 1 2 lt\r\n{add}{sub}ifelse}trailing";
    auto f = calculator(body, 0, 1);
    ASSERT_TRUE(f);
    EXPECT_EQ(run(*f), std::vector<double>{5});
    // Every byte up to the closing brace was read, and kept.
    const DynString& text = static_cast<CalculatorFunction*>(f.get())->getProgramText();
    EXPECT_EQ(std::string(text.getCString(), size_t(text.getLength())), body.substr(0, body.size() - 8));
}

TEST(CalculatorFunctionCompile, BlocksLayOutTheirJumps) {
    auto f = calculator("{ 1 { 2 } { 3 } ifelse }", 0, 1);
    ASSERT_TRUE(f);
    using Ins = CalculatorFunction::Instruction;
    const std::vector<Ins>& code = static_cast<CalculatorFunction*>(f.get())->getCode();
    // 1, ifelse slots at 1..3, block 2 at 4..5, block 3 at 6..7, return at 8.
    ASSERT_EQ(code.size(), 9u);
    EXPECT_EQ(code[1].type, Ins::kOperator);
    EXPECT_EQ(code[1].value, CalculatorFunction::kIfElse);
    EXPECT_EQ(code[2].value, 6);
    EXPECT_EQ(code[3].value, 8);
    EXPECT_EQ(code[5].value, CalculatorFunction::kReturn);
    EXPECT_EQ(code[8].value, CalculatorFunction::kReturn);
}

TEST(CalculatorFunctionCompile, BraceNestingIsLimited) {
    const auto nested = [](int depth) {
        std::string program = "{ true ";
        for (int i = 1; i < depth; ++i)
            program += "{ true ";
        program += "1";
        for (int i = 1; i < depth; ++i)
            program += " } if";
        return program + " }";
    };
    auto deep = calculator(nested(64), 0, 1);
    ASSERT_TRUE(deep);
    // The trues of the outer blocks stay below the result.
    EXPECT_EQ(run(*deep), std::vector<double>{1});
    ErrorCapture errors;
    EXPECT_FALSE(calculator(nested(65), 0, 1));
    EXPECT_TRUE(errors.contains("more than 64"));
    EXPECT_FALSE(calculator(std::string(100000, '{'), 0, 1));
}

TEST(CalculatorFunctionCompile, LargeLiteralsBecomeReals) {
    EXPECT_EQ(results("3000000000", 1), std::vector<double>{3000000000.0});
    EXPECT_EQ(results("-2147483648", 1), std::vector<double>{-2147483648.0});
    EXPECT_EQ(results(".5 -.25", 2), (std::vector<double>{0.5, -0.25}));
}

TEST(CalculatorFunctionCompile, CopiesRunIndependently) {
    auto f = calculator("{ 2 mul }", 1, 1);
    auto copy = f->copy();
    f.reset();
    EXPECT_EQ(run(*copy, {4}), std::vector<double>{8});
    EXPECT_EQ(copy->getType(), PdfFunction::kCalculatorType);
}

}  // namespace
}  // namespace rendova
