#pragma once

#include <memory>
#include <vector>

#include "engine/content/PdfFunction.h"
#include "engine/core/DynString.h"

namespace rendova {

class DataStream;

// A calculator function (type 4): a program in a small subset of PostScript
// (numbers, 40 operators, if and ifelse), compiled at parse time into an
// array of instructions and run on a stack of 100 values for each
// evaluation. Owned like every PdfFunction. Evaluation allocates nothing;
// stack errors are reported and the faulty step is skipped.
class CalculatorFunction : public PdfFunction {
public:
    // Operator numbers: the index of the name in the sorted table of the 40
    // operators, then the three control instructions.
    enum Operator : int {
        kAbs,
        kAdd,
        kAnd,
        kAtan,
        kBitshift,
        kCeiling,
        kCopy,
        kCos,
        kCvi,
        kCvr,
        kDiv,
        kDup,
        kEq,
        kExch,
        kExp,
        kFalse,
        kFloor,
        kGe,
        kGt,
        kIdiv,
        kIndex,
        kLe,
        kLn,
        kLog,
        kLt,
        kMod,
        kMul,
        kNe,
        kNeg,
        kNot,
        kOr,
        kPop,
        kRoll,
        kRound,
        kSin,
        kSqrt,
        kSub,
        kTrue,
        kTruncate,
        kXor,
        kIf,
        kIfElse,
        kReturn,
    };
    static constexpr int kOperatorNameCount = 40;

    // value is the function's stream; dict its dictionary.
    CalculatorFunction(const PdfValue& value, const PdfDict* dict);
    std::unique_ptr<PdfFunction> copy() const override;
    int getType() const override { return kCalculatorType; }
    void transform(const double* in, double* out) override;
    bool isOk() const override { return m_ok; }

    // Every character read from the stream, comments included.
    const DynString& getProgramText() const { return m_program; }

    struct Instruction {
        enum Type : int { kInteger = 1, kReal = 2, kOperator = 3, kBlock = 4 };
        int type;
        int value;  // the integer, the operator number or the code index
        double real;
    };
    const std::vector<Instruction>& getCode() const { return m_code; }

    class Stack;

private:
    CalculatorFunction(const CalculatorFunction&) = default;

    // Reads one token into token; false at the end of the data.
    bool nextToken(DataStream* stream, DynString& token);
    // Compiles instructions up to the closing brace of the block; false
    // after an error report.
    bool parseBlock(DataStream* stream, int depth);
    void append(int type, int value, double real = 0);
    // Runs the code from start up to its return instruction.
    void execute(Stack& stack, int start) const;

    DynString m_program;
    std::vector<Instruction> m_code;
    bool m_ok = false;
};

}  // namespace rendova
