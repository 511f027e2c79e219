#include "engine/core/EmbeddedSource.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

EmbeddedSource::EmbeddedSource(DataStream* parent, PdfValue&& dict, bool limited, uint32_t length)
    : SourceStream(std::move(dict)), m_parent(parent), m_limited(limited), m_remaining(length) {}

void EmbeddedSource::setPos(uint32_t, int) {
    reportError(-1, "Internal: setPos on an embedded stream");
}

RefPtr<SourceStream> EmbeddedSource::makeSubrange(uint32_t, bool, uint32_t, PdfValue&&) {
    reportError(-1, "Internal: makeSubrange on an embedded stream");
    return nullptr;
}

uint32_t EmbeddedSource::getStart() {
    reportError(-1, "Internal: getStart on an embedded stream");
    return 0;
}

void EmbeddedSource::shiftStart(int) {
    reportError(-1, "Internal: shiftStart on an embedded stream");
}

}  // namespace rendova
