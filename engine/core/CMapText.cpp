#include "engine/core/CMapText.h"

#include <cstring>

#include "engine/core/PsTokenizer.h"

namespace rendova::cmaptext {

namespace {

// Reads the entries of a section up to its end keyword.
void readSection(PsTokenizer& tokenizer, Sink& sink, int index, const Sink::Section& section) {
    Entry entry;
    entry.tokenizer = &tokenizer;
    for (;;) {
        if (!tokenizer.getToken(entry.token[0], kTokenSize, &entry.length[0])) {
            if (section.endsAtFirstTokenOnly)
                sink.unfinished(index);
            return;
        }
        if (std::strcmp(entry.token[0], section.end) == 0)
            return;
        for (int i = 1; i < section.tokens; ++i) {
            if (!tokenizer.getToken(entry.token[i], kTokenSize, &entry.length[i]) ||
                (!section.endsAtFirstTokenOnly && std::strcmp(entry.token[i], section.end) == 0)) {
                sink.unfinished(index);
                return;
            }
        }
        sink.entry(index, entry);
    }
}

}  // namespace

void read(PsTokenizer& tokenizer, Sink& sink) {
    int sectionCount = 0;
    const Sink::Section* sections = sink.sections(&sectionCount);
    // A window of two tokens: statements are "A B" with B the keyword.
    char a[kTokenSize];
    char b[kTokenSize];
    int lengthA = 0;
    int lengthB = 0;

    bool readA = true;
    for (;;) {
        if (readA && !tokenizer.getToken(a, kTokenSize, &lengthA))
            return;
        readA = true;
        if (!tokenizer.getToken(b, kTokenSize, &lengthB))
            return;

        if (std::strcmp(b, "usecmap") == 0) {
            if (a[0] == '/')
                sink.useCMap(a + 1);
            continue;
        }
        if (sink.define(a, b))
            continue;
        int index = 0;
        while (index < sectionCount && std::strcmp(b, sections[index].begin) != 0)
            ++index;
        if (index < sectionCount) {
            readSection(tokenizer, sink, index, sections[index]);
        } else {
            // Slide the window: B becomes A and a new B is read.
            std::memcpy(a, b, static_cast<size_t>(lengthB) + 1);
            lengthA = lengthB;
            readA = false;
        }
    }
}

}  // namespace rendova::cmaptext
