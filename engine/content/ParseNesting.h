#pragma once

#include "engine/core/PdfValue.h"

namespace rendova {

// The chain of objects that a recursive parse (colour spaces inside colour
// spaces, functions inside stitching functions) is inside of. Each nested
// element enters a Level before it is parsed; entering fails, after an error
// report, when the chain is already at its depth limit or when the element is
// a reference to an object that is still being parsed further up (a cycle,
// which would otherwise recurse until the limit).
//
// Lives on the stack of one parse; one thread. Never throws.
class ParseNesting {
public:
    // The deepest limit a caller may ask for; the reference slots are fixed.
    static constexpr int kMaxLimit = 32;

    // what names the kind of object in the error reports ("colour space").
    ParseNesting(int limit, const char* what)
        : m_limit(limit < kMaxLimit ? limit : kMaxLimit), m_what(what) {}
    ParseNesting(const ParseNesting&) = delete;
    ParseNesting& operator=(const ParseNesting&) = delete;

    int getDepth() const { return m_depth; }

    // One level of the chain for an element given as stored (an unresolved
    // reference, or a direct value). ok() tells whether it may be parsed.
    class Level {
    public:
        Level(ParseNesting& nesting, const PdfValue& raw)
            : m_nesting(nesting), m_entered(nesting.enter(raw)) {}
        ~Level() {
            if (m_entered)
                m_nesting.leave();
        }
        Level(const Level&) = delete;
        Level& operator=(const Level&) = delete;

        bool ok() const { return m_entered; }

    private:
        ParseNesting& m_nesting;
        bool m_entered;
    };

private:
    bool enter(const PdfValue& raw);
    void leave() { --m_depth; }

    struct Slot {
        bool isRef;
        int num;
        int gen;
    };

    int m_limit;
    const char* m_what;
    int m_depth = 0;
    Slot m_slots[kMaxLimit] = {};
};

}  // namespace rendova
