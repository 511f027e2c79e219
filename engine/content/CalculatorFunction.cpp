#include "engine/content/CalculatorFunction.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"
#include "engine/core/SaturatingCast.h"

namespace rendova {

namespace {

// Braces nest one compiler (and one evaluation) frame per level. Programs
// that documents carry nest a few levels; the limit keeps a hostile one from
// exhausting the native stack.
constexpr int kMaxBlockNesting = 64;
// The format's calculator stack holds 100 values.
constexpr int kStackSize = 100;
// The code array grows by this many instructions at a time.
constexpr size_t kCodeGrowth = 64;

constexpr double kPi = 3.14159265358979323846;

// Sorted, so that a name is found by binary search; the index is the
// operator number.
const char* const kOperatorNames[CalculatorFunction::kOperatorNameCount] = {
    "abs",   "add", "and",  "atan",  "bitshift", "ceiling", "copy",  "cos",  "cvi",      "cvr",
    "div",   "dup", "eq",   "exch",  "exp",      "false",   "floor", "ge",   "gt",       "idiv",
    "index", "le",  "ln",   "log",   "lt",       "mod",     "mul",   "ne",   "neg",      "not",
    "or",    "pop", "roll", "round", "sin",      "sqrt",    "sub",   "true", "truncate", "xor",
};

int findOperator(const char* name) {
    int low = 0;
    int high = CalculatorFunction::kOperatorNameCount - 1;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int order = std::strcmp(name, kOperatorNames[mid]);
        if (order == 0)
            return mid;
        if (order < 0) {
            high = mid - 1;
        } else {
            low = mid + 1;
        }
    }
    return -1;
}

bool isWhite(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\0';
}
bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
bool isLetterOrDigit(int c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Integers wrap as the format's 32-bit integers do: the arithmetic is done
// unsigned, where overflow is defined.
int wrap(uint32_t v) {
    return static_cast<int>(v);
}

double degrees(double radians) {
    return radians * (180.0 / kPi);
}
double radians(double degreesValue) {
    return degreesValue * (kPi / 180.0);
}

}  // namespace

// The evaluation stack: 100 typed values, filled from the top of the array
// downward (the pointer starts at 100, empty). Every fault is reported and
// leaves the stack unchanged apart from the values already popped.
class CalculatorFunction::Stack {
public:
    enum Type : int { kBool = 0, kInt = 1, kReal = 2 };

    int count() const { return kStackSize - m_top; }

    void pushBool(bool b) { push(Entry{kBool, b ? 1 : 0, 0}); }
    void pushInt(int i) { push(Entry{kInt, i, 0}); }
    void pushReal(double r) { push(Entry{kReal, 0, r}); }

    // Whether the entry i below the top (0 is the top) exists and is of type.
    bool isType(int i, Type type) const { return i < count() && m_entries[m_top + i].type == type; }
    bool topTwoInts() const { return isType(0, kInt) && isType(1, kInt); }
    bool topTwoNums() const { return isNum(0) && isNum(1); }
    bool isNum(int i) const { return isType(i, kInt) || isType(i, kReal); }

    bool popBool() {
        Entry e;
        if (!pop(e))
            return false;
        if (e.type != kBool) {
            reportError(-1, "calculator function wants a boolean");
            return false;
        }
        return e.integer != 0;
    }
    // A real stands for its integer part (producers write "floor 2 mod",
    // whose floor gives a real): the operators that need integers would
    // otherwise fail on such a real and paint the whole shading in one
    // colour.
    int popInt() {
        Entry e;
        if (!pop(e))
            return 0;
        if (e.type == kReal)
            return saturateToInt(e.real);
        if (e.type != kInt) {
            reportError(-1, "calculator function wants an integer");
            return 0;
        }
        return e.integer;
    }
    double popNum() {
        Entry e;
        if (!pop(e))
            return 0;
        if (e.type == kInt)
            return e.integer;
        if (e.type == kReal)
            return e.real;
        reportError(-1, "calculator function wants a number");
        return 0;
    }

    void drop() {
        Entry e;
        pop(e);
    }
    void dup() {
        if (count() < 1) {
            reportError(-1, "calculator function stack underflow");
            return;
        }
        push(m_entries[m_top]);
    }
    void exch() {
        if (count() < 2) {
            reportError(-1, "calculator function stack underflow");
            return;
        }
        const Entry top = m_entries[m_top];
        m_entries[m_top] = m_entries[m_top + 1];
        m_entries[m_top + 1] = top;
    }
    // Duplicates the top n entries; nothing when n is negative, more than
    // the stack holds, or more than there is room for.
    void copy(int n) {
        if (n < 0 || n > count() || n > m_top) {
            reportError(-1, "calculator function cannot copy %d values", n);
            return;
        }
        for (int i = 0; i < n; ++i)
            m_entries[m_top - n + i] = m_entries[m_top + i];
        m_top -= n;
    }
    // A copy of the entry i below the top; nothing when there is none.
    void index(int i) {
        if (i < 0 || i >= count()) {
            reportError(-1, "calculator function index %d is outside the stack", i);
            return;
        }
        push(m_entries[m_top + i]);
    }
    // Rotates the top n entries j places: for j > 0 the top entry moves to
    // the bottom of the group, j times. Nothing when n is negative or more
    // than the stack holds.
    void roll(int n, int j) {
        if (n < 0 || n > count()) {
            reportError(-1, "calculator function cannot roll %d values", n);
            return;
        }
        if (n == 0)
            return;
        const int shift = ((j % n) + n) % n;
        if (shift == 0)
            return;
        Entry group[kStackSize];
        for (int k = 0; k < n; ++k)
            group[k] = m_entries[m_top + (k + shift) % n];
        for (int k = 0; k < n; ++k)
            m_entries[m_top + k] = group[k];
    }

private:
    struct Entry {
        int type;
        int integer;
        double real;
    };

    void push(const Entry& e) {
        if (m_top == 0) {
            reportError(-1, "calculator function stack overflow");
            return;
        }
        m_entries[--m_top] = e;
    }
    bool pop(Entry& e) {
        if (m_top == kStackSize) {
            reportError(-1, "calculator function stack underflow");
            return false;
        }
        e = m_entries[m_top++];
        return true;
    }

    Entry m_entries[kStackSize];
    int m_top = kStackSize;
};

namespace {

// The operators that stay in integers when both operands are integers
// (wrapping as 32-bit values do) and work in reals otherwise.
bool applyArithmetic(CalculatorFunction::Stack& stack, int op) {
    using enum CalculatorFunction::Operator;
    using Stack = CalculatorFunction::Stack;
    switch (op) {
        case kAbs:
            if (stack.isType(0, Stack::kInt)) {
                const int i = stack.popInt();
                stack.pushInt(i < 0 ? wrap(0u - uint32_t(i)) : i);
            } else {
                stack.pushReal(std::fabs(stack.popNum()));
            }
            break;
        case kAdd:
            if (stack.topTwoInts()) {
                const int b = stack.popInt();
                const int a = stack.popInt();
                stack.pushInt(wrap(uint32_t(a) + uint32_t(b)));
            } else {
                const double b = stack.popNum();
                const double a = stack.popNum();
                stack.pushReal(a + b);
            }
            break;
        case kMul:
            if (stack.topTwoInts()) {
                const int b = stack.popInt();
                const int a = stack.popInt();
                stack.pushInt(wrap(uint32_t(a) * uint32_t(b)));
            } else {
                const double b = stack.popNum();
                const double a = stack.popNum();
                stack.pushReal(a * b);
            }
            break;
        case kNeg:
            if (stack.isType(0, Stack::kInt)) {
                stack.pushInt(wrap(0u - uint32_t(stack.popInt())));
            } else {
                stack.pushReal(-stack.popNum());
            }
            break;
        case kSub:
            if (stack.topTwoInts()) {
                const int b = stack.popInt();
                const int a = stack.popInt();
                stack.pushInt(wrap(uint32_t(a) - uint32_t(b)));
            } else {
                const double b = stack.popNum();
                const double a = stack.popNum();
                stack.pushReal(a - b);
            }
            break;
        case kIdiv:
        case kMod: {
            const int b = stack.popInt();
            const int a = stack.popInt();
            if (b == 0) {
                reportError(-1, "calculator function divides by zero");
                stack.pushInt(0);
            } else if (b == -1) {
                // INT_MIN / -1 overflows; the quotient wraps, the
                // remainder is 0.
                stack.pushInt(op == kIdiv ? wrap(0u - uint32_t(a)) : 0);
            } else {
                stack.pushInt(op == kIdiv ? a / b : a % b);
            }
            break;
        }
        default:
            return false;
    }
    return true;
}

// The operators of real mathematics and the conversions and roundings; an
// integer operand of a rounding stays as it is.
bool applyRealMath(CalculatorFunction::Stack& stack, int op) {
    using enum CalculatorFunction::Operator;
    using Stack = CalculatorFunction::Stack;
    switch (op) {
        case kAtan: {
            const double den = stack.popNum();
            const double num = stack.popNum();
            double angle = degrees(std::atan2(num, den));
            if (angle < 0)
                angle += 360;
            stack.pushReal(angle);
            break;
        }
        case kCos:
            stack.pushReal(std::cos(radians(stack.popNum())));
            break;
        case kSin:
            stack.pushReal(std::sin(radians(stack.popNum())));
            break;
        case kDiv: {
            const double b = stack.popNum();
            const double a = stack.popNum();
            stack.pushReal(a / b);
            break;
        }
        case kExp: {
            const double exponent = stack.popNum();
            const double base = stack.popNum();
            stack.pushReal(std::pow(base, exponent));
            break;
        }
        case kLn:
            stack.pushReal(std::log(stack.popNum()));
            break;
        case kLog:
            stack.pushReal(std::log10(stack.popNum()));
            break;
        case kSqrt:
            stack.pushReal(std::sqrt(stack.popNum()));
            break;
        case kCvi:
            if (!stack.isType(0, Stack::kInt))
                stack.pushInt(saturateToInt(stack.popNum()));
            break;
        case kCvr:
            stack.pushReal(stack.popNum());
            break;
        case kCeiling:
            if (!stack.isType(0, Stack::kInt))
                stack.pushReal(std::ceil(stack.popNum()));
            break;
        case kFloor:
            if (!stack.isType(0, Stack::kInt))
                stack.pushReal(std::floor(stack.popNum()));
            break;
        case kRound:
            if (!stack.isType(0, Stack::kInt)) {
                const double r = stack.popNum();
                stack.pushReal(r >= 0 ? std::floor(r + 0.5) : std::ceil(r - 0.5));
            }
            break;
        case kTruncate:
            if (!stack.isType(0, Stack::kInt))
                stack.pushReal(std::trunc(stack.popNum()));
            break;
        default:
            return false;
    }
    return true;
}

// The relational, boolean and bitwise operators.
bool applyLogic(CalculatorFunction::Stack& stack, int op) {
    using enum CalculatorFunction::Operator;
    using Stack = CalculatorFunction::Stack;
    switch (op) {
        case kAnd:
        case kOr:
        case kXor:
            if (stack.topTwoInts()) {
                const int b = stack.popInt();
                const int a = stack.popInt();
                stack.pushInt(op == kAnd ? (a & b) : op == kOr ? (a | b) : (a ^ b));
            } else {
                const bool b = stack.popBool();
                const bool a = stack.popBool();
                stack.pushBool(op == kAnd ? (a && b) : op == kOr ? (a || b) : (a != b));
            }
            break;
        case kBitshift: {
            const int shift = stack.popInt();
            const uint32_t v = uint32_t(stack.popInt());
            // Shifting a 32-bit value by 32 or more leaves nothing.
            if (shift >= 32 || shift <= -32) {
                stack.pushInt(0);
            } else if (shift > 0) {
                stack.pushInt(wrap(v << shift));
            } else {
                stack.pushInt(wrap(v >> -shift));
            }
            break;
        }
        case kEq:
        case kNe: {
            bool equal;
            if (stack.topTwoInts()) {
                equal = stack.popInt() == stack.popInt();
            } else if (stack.topTwoNums()) {
                equal = stack.popNum() == stack.popNum();
            } else {
                equal = stack.popBool() == stack.popBool();
            }
            stack.pushBool(op == kEq ? equal : !equal);
            break;
        }
        case kGe:
        case kGt:
        case kLe:
        case kLt: {
            int order;
            if (stack.topTwoInts()) {
                const int b = stack.popInt();
                const int a = stack.popInt();
                order = a < b ? -1 : a > b ? 1 : 0;
            } else {
                const double b = stack.popNum();
                const double a = stack.popNum();
                order = a < b ? -1 : a > b ? 1 : a == b ? 0 : 2;  // 2: unordered (NaN)
            }
            bool result = false;
            if (order != 2) {
                result = op == kGe ? order >= 0 : op == kGt ? order > 0 : op == kLe ? order <= 0 : order < 0;
            }
            stack.pushBool(result);
            break;
        }
        case kNot:
            if (stack.isType(0, Stack::kInt)) {
                stack.pushInt(~stack.popInt());
            } else {
                stack.pushBool(!stack.popBool());
            }
            break;
        case kTrue:
            stack.pushBool(true);
            break;
        case kFalse:
            stack.pushBool(false);
            break;
        default:
            return false;
    }
    return true;
}

// The operators that rearrange the stack.
bool applyStackOperator(CalculatorFunction::Stack& stack, int op) {
    using enum CalculatorFunction::Operator;
    switch (op) {
        case kCopy:
            stack.copy(stack.popInt());
            break;
        case kDup:
            stack.dup();
            break;
        case kExch:
            stack.exch();
            break;
        case kIndex:
            stack.index(stack.popInt());
            break;
        case kPop:
            stack.drop();
            break;
        case kRoll: {
            const int j = stack.popInt();
            const int n = stack.popInt();
            stack.roll(n, j);
            break;
        }
        default:
            return false;
    }
    return true;
}

}  // namespace

CalculatorFunction::CalculatorFunction(const PdfValue& value, const PdfDict* dict) {
    if (!readDomainAndRange(dict))
        return;
    if (!m_hasRange) {
        reportError(-1, "calculator function has no Range");
        return;
    }
    if (!value.isStream()) {
        reportError(-1, "calculator function is not a stream");
        return;
    }
    DataStream* stream = value.getStream();
    stream->reset();
    DynString token;
    if (!nextToken(stream, token) || token.compareCStr("{") != 0) {
        reportError(-1, "calculator function does not start with a brace");
    } else if (parseBlock(stream, 1)) {
        m_ok = true;
    }
    stream->close();
}

std::unique_ptr<PdfFunction> CalculatorFunction::copy() const {
    return std::unique_ptr<PdfFunction>(new CalculatorFunction(*this));
}

bool CalculatorFunction::nextToken(DataStream* stream, DynString& token) {
    token.clear();
    int c;
    for (;;) {
        c = stream->getChar();
        if (c < 0)
            return false;
        m_program.appendChar(char(c));
        if (c == '%') {
            // A comment runs to the end of the line.
            for (;;) {
                c = stream->peekChar();
                if (c < 0 || c == '\n' || c == '\r')
                    break;
                m_program.appendChar(char(stream->getChar()));
            }
        } else if (!isWhite(c)) {
            break;
        }
    }
    token.appendChar(char(c));
    if (c == '{' || c == '}')
        return true;
    const bool number = isDigit(c) || c == '.' || c == '-';
    for (;;) {
        const int next = stream->peekChar();
        const bool more = number ? (isDigit(next) || next == '.' || next == '-') : isLetterOrDigit(next);
        if (!more)
            break;
        stream->getChar();
        m_program.appendChar(char(next));
        token.appendChar(char(next));
    }
    return true;
}

void CalculatorFunction::append(int type, int value, double real) {
    if (m_code.size() == m_code.capacity())
        m_code.reserve(m_code.size() + kCodeGrowth);
    m_code.push_back(Instruction{type, value, real});
}

bool CalculatorFunction::parseBlock(DataStream* stream, int depth) {
    if (depth > kMaxBlockNesting) {
        reportError(-1, "calculator function nests braces more than %d deep", kMaxBlockNesting);
        return false;
    }
    DynString token;
    for (;;) {
        if (!nextToken(stream, token)) {
            reportError(-1, "calculator function ends inside a block");
            return false;
        }
        const char* text = token.getCString();
        const int first = static_cast<unsigned char>(text[0]);
        if (isDigit(first) || first == '.' || first == '-') {
            const char* end = text + token.getLength();
            if (std::strchr(text, '.')) {
                double real = 0;
                std::from_chars(text, end, real);
                append(Instruction::kReal, 0, real);
            } else {
                int integer = 0;
                const auto result = std::from_chars(text, end, integer);
                if (result.ec == std::errc::result_out_of_range) {
                    // Too large for a 32-bit integer: a real, as the
                    // language's own scanner makes it.
                    double real = 0;
                    std::from_chars(text, end, real);
                    append(Instruction::kReal, 0, real);
                } else {
                    append(Instruction::kInteger, integer);
                }
            }
        } else if (first == '{') {
            // Three slots ahead of the block: the operator, the start of the
            // else block and the index after the whole construct.
            const int at = int(m_code.size());
            append(Instruction::kOperator, kIf);
            append(Instruction::kBlock, 0);
            append(Instruction::kBlock, 0);
            if (!parseBlock(stream, depth + 1))
                return false;
            int elseStart = -1;
            if (!nextToken(stream, token)) {
                reportError(-1, "calculator function ends after a block");
                return false;
            }
            if (token.compareCStr("{") == 0) {
                elseStart = int(m_code.size());
                if (!parseBlock(stream, depth + 1))
                    return false;
                if (!nextToken(stream, token)) {
                    reportError(-1, "calculator function ends after a block");
                    return false;
                }
            }
            if (elseStart < 0 && token.compareCStr("if") == 0) {
                m_code[size_t(at)].value = kIf;
            } else if (elseStart >= 0 && token.compareCStr("ifelse") == 0) {
                m_code[size_t(at)].value = kIfElse;
                m_code[size_t(at) + 1].value = elseStart;
            } else {
                reportError(-1, "calculator function has a block without if or ifelse");
                return false;
            }
            m_code[size_t(at) + 2].value = int(m_code.size());
        } else if (first == '}') {
            append(Instruction::kOperator, kReturn);
            return true;
        } else {
            const int op = findOperator(text);
            if (op < 0) {
                reportError(-1, "calculator function has an unknown operator '%.40s'", text);
                return false;
            }
            append(Instruction::kOperator, op);
        }
    }
}

void CalculatorFunction::transform(const double* in, double* out) {
    Stack stack;
    for (int i = 0; i < m_inputCount; ++i)
        stack.pushReal(in[i]);
    execute(stack, 0);
    for (int i = m_outputCount - 1; i >= 0; --i) {
        double v = stack.popNum();
        // NaN (0/0, the square root of a negative number) becomes the low
        // end of the range, like any value below it.
        if (!(v >= m_range[i][0])) {
            v = m_range[i][0];
        } else if (v > m_range[i][1]) {
            v = m_range[i][1];
        }
        out[i] = v;
    }
}

void CalculatorFunction::execute(Stack& stack, int start) const {
    const Instruction* code = m_code.data();
    const int size = int(m_code.size());
    int pc = start;
    // Every block the compiler makes ends in a return, and the nesting of
    // the recursion below is that of the braces.
    while (pc < size) {
        const Instruction& ins = code[pc];
        if (ins.type == Instruction::kInteger) {
            stack.pushInt(ins.value);
            ++pc;
            continue;
        }
        if (ins.type == Instruction::kReal) {
            stack.pushReal(ins.real);
            ++pc;
            continue;
        }
        if (ins.type != Instruction::kOperator)
            return;
        switch (ins.value) {
            case kIf:
                if (stack.popBool())
                    execute(stack, pc + 3);
                pc = code[pc + 2].value;
                continue;
            case kIfElse:
                if (stack.popBool()) {
                    execute(stack, pc + 3);
                } else {
                    execute(stack, code[pc + 1].value);
                }
                pc = code[pc + 2].value;
                continue;
            case kReturn:
                return;
            default:
                // Each family takes its own operators; an unknown one does
                // nothing.
                if (!applyArithmetic(stack, ins.value) && !applyRealMath(stack, ins.value) &&
                    !applyLogic(stack, ins.value))
                    applyStackOperator(stack, ins.value);
                break;
        }
        ++pc;
    }
}

}  // namespace rendova
