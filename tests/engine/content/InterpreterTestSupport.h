#pragma once

// Helpers of the interpreter tests: values parsed from document syntax
// (dictionaries may hold direct streams, for forms and soft masks), content
// streams over text, and one call that runs a content string with resources
// against a RecordingDevice on a 612 x 792 page at 72 dpi (y down, so the
// page matrix is [1 0 0 -1 0 792]).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/content/ContentInterpreter.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/RecordingDevice.h"

namespace rendova::test {

// Keeps the buffers of parsed values alive: streams parsed from text share
// the buffer of the source they were cut from.
class ValueFactory {
public:
    // A value from document syntax, without an xref table (references stay
    // unresolved).
    PdfValue parse(const std::string& text) {
        RefPtr<DataStream> source = ownedSource(text);
        ValueParser parser(nullptr, std::make_unique<Tokenizer>(nullptr, source.get()), true);
        PdfValue value;
        parser.getValue(value);
        return value;
    }
    // A stream value over bytes, with a stream dictionary given as text
    // (empty: null).
    PdfValue stream(const std::string& bytes, const std::string& dictText = "") {
        PdfValue dict = dictText.empty() ? PdfValue() : parse(dictText);
        if (dict.isNone())
            dict.initNull();
        RefPtr<DataStream> source = ownedSource(bytes, std::move(dict));
        PdfValue value;
        value.initStream(source);
        return value;
    }

private:
    RefPtr<DataStream> ownedSource(const std::string& bytes, PdfValue&& dict = PdfValue()) {
        if (dict.isNone())
            dict.initNull();
        char* copy = static_cast<char*>(memAlloc(static_cast<int>(bytes.size()) + 1));
        if (!bytes.empty())
            std::memcpy(copy, bytes.data(), bytes.size());
        auto* source = new MemorySource(copy, 0, static_cast<uint32_t>(bytes.size()), std::move(dict));
        source->setOwnsBuffer(true);
        RefPtr<DataStream> ref = RefPtr<DataStream>::adopt(source);
        m_sources.push_back(ref);
        return ref;
    }

    std::vector<RefPtr<DataStream>> m_sources;
};

constexpr PageBox kLetter = {0, 0, 612, 792};

// One page run: an interpreter over a resource dictionary given as text,
// with a recording device and the error reports of the run.
class ContentRun {
public:
    explicit ContentRun(const std::string& resources = "", PageBox box = kLetter, int rotate = 0,
                        AbortCheck abortCheck = nullptr, void* abortData = nullptr) {
        device.recordUpdates = true;
        if (!resources.empty())
            m_resources = values.parse(resources);
        m_interpreter = std::make_unique<ContentInterpreter>(
            nullptr, &device, 1, m_resources.isDict() ? m_resources.getDict() : nullptr, 72, 72, box, nullptr,
            rotate, abortCheck, abortData);
        device.calls.clear();
    }

    // Runs content, flushing at the end as a page does.
    ContentRun& run(const std::string& content, bool flush = true) {
        PdfValue stream = values.stream(content);
        m_interpreter->display(stream, flush);
        return *this;
    }
    ContentInterpreter& interpreter() { return *m_interpreter; }
    GraphicsState* state() { return m_interpreter->getState(); }
    // Deletes the interpreter (which ends the page on the device).
    void finish() { m_interpreter.reset(); }

    // Declared first: the device and the values outlive the interpreter.
    ValueFactory values;
    RecordingDevice device;
    ErrorCapture errors;

private:
    PdfValue m_resources;
    std::unique_ptr<ContentInterpreter> m_interpreter;
};

}  // namespace rendova::test
