#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/ErrorReport.h"

namespace rendova::test {

// Collects every reportError call made while it is alive, so that a test can
// assert that a defect was reported (and where) or that nothing was.
class ErrorCapture {
public:
    struct Report {
        int64_t position;
        std::string message;
    };

    ErrorCapture() { setErrorSink(&ErrorCapture::receive, this); }
    ~ErrorCapture() { setErrorSink(nullptr, nullptr); }
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    const std::vector<Report>& reports() const { return m_reports; }
    size_t count() const { return m_reports.size(); }
    bool empty() const { return m_reports.empty(); }
    bool contains(const std::string& text) const {
        for (const auto& r : m_reports)
            if (r.message.find(text) != std::string::npos)
                return true;
        return false;
    }
    void clear() { m_reports.clear(); }

private:
    static void receive(void* context, int64_t position, const char* message) {
        static_cast<ErrorCapture*>(context)->m_reports.push_back({position, message});
    }
    std::vector<Report> m_reports;
};

}  // namespace rendova::test
