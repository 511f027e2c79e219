#include "engine/content/ParseNesting.h"

#include "engine/core/ErrorReport.h"

namespace rendova {

bool ParseNesting::enter(const PdfValue& raw) {
    if (m_depth >= m_limit) {
        reportError(-1, "%s nested more than %d levels deep", m_what, m_limit);
        return false;
    }
    if (raw.isRef()) {
        for (int i = 0; i < m_depth; ++i) {
            const Slot& slot = m_slots[i];
            if (slot.isRef && slot.num == raw.getRefNum() && slot.gen == raw.getRefGen()) {
                reportError(-1, "%s object %d %d refers to itself", m_what, raw.getRefNum(), raw.getRefGen());
                return false;
            }
        }
    }
    m_slots[m_depth] =
        Slot{raw.isRef(), raw.isRef() ? raw.getRefNum() : 0, raw.isRef() ? raw.getRefGen() : 0};
    ++m_depth;
    return true;
}

}  // namespace rendova
