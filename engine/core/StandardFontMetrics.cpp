#include "engine/core/StandardFontMetrics.h"

#include <cstring>
#include <memory>

#include "engine/core/BuiltinEncodings.h"

namespace rendova {

namespace {

// Number of live settings objects that asked for the tables.
int g_metricsUsers = 0;

}  // namespace

// The metrics of the standard fonts as published: ascent, descent and font
// box of each face.
StandardFontRow standardFontRows[kStandardFontCount] = {
    {"Courier", kStandardEncoding, 629, -157, {-23, -250, 715, 805}, nullptr},
    {"Courier-Bold", kStandardEncoding, 629, -157, {-113, -250, 749, 801}, nullptr},
    {"Courier-BoldOblique", kStandardEncoding, 629, -157, {-57, -250, 869, 801}, nullptr},
    {"Courier-Oblique", kStandardEncoding, 629, -157, {-27, -250, 849, 805}, nullptr},
    {"Helvetica", kStandardEncoding, 718, -207, {-166, -225, 1000, 931}, nullptr},
    {"Helvetica-Bold", kStandardEncoding, 718, -207, {-170, -228, 1003, 962}, nullptr},
    {"Helvetica-BoldOblique", kStandardEncoding, 718, -207, {-174, -228, 1114, 962}, nullptr},
    {"Helvetica-Oblique", kStandardEncoding, 718, -207, {-170, -225, 1116, 931}, nullptr},
    {"Symbol", kSymbolEncoding, 1010, -293, {-180, -293, 1090, 1010}, nullptr},
    {"Times-Bold", kStandardEncoding, 683, -217, {-168, -218, 1000, 935}, nullptr},
    {"Times-BoldItalic", kStandardEncoding, 683, -217, {-200, -218, 996, 921}, nullptr},
    {"Times-Italic", kStandardEncoding, 683, -217, {-169, -217, 1010, 883}, nullptr},
    {"Times-Roman", kStandardEncoding, 683, -217, {-168, -218, 1000, 898}, nullptr},
    {"ZapfDingbats", kZapfDingbatsEncoding, 820, -143, {-1, -143, 981, 820}, nullptr},
};

void initStandardFontMetrics() {
    if (g_metricsUsers > 0) {
        ++g_metricsUsers;
        return;
    }
    // Built aside and published together: should a build throw, the tables
    // stay as a failed init found them, nothing counted or built, since the
    // caller's destructor will not run.
    std::unique_ptr<NameCodeTable> tables[kStandardFontCount];
    for (int i = 0; i < kStandardFontCount; ++i) {
        tables[i] = std::make_unique<NameCodeTable>();
        tables[i]->build(kStandardFontWidthRecords[i].records, kStandardFontWidthRecords[i].count);
    }
    for (int i = 0; i < kStandardFontCount; ++i)
        standardFontRows[i].widths = tables[i].release();
    g_metricsUsers = 1;
}

void freeStandardFontMetrics() {
    if (g_metricsUsers <= 0 || --g_metricsUsers > 0)
        return;
    for (StandardFontRow& row : standardFontRows) {
        delete row.widths;
        row.widths = nullptr;
    }
}

const StandardFontRow* findStandardFontRow(const char* name) {
    for (const StandardFontRow& row : standardFontRows) {
        if (std::strcmp(row.name, name) == 0)
            return &row;
    }
    return nullptr;
}

int lookupStandardFontWidth(const StandardFontRow& row, const char* glyphName, int* width) {
    uint16_t code = 0;
    if (!row.widths || !row.widths->lookup(glyphName, &code))
        return 0;
    *width = code;
    return 1;
}

}  // namespace rendova
