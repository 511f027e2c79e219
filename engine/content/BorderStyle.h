#pragma once

#include <memory>

namespace rendova {

// How an annotation's border is drawn: the style of its BS dictionary or
// Border array, and the border colour of its C array.
struct BorderStyle {
    enum Type : int { kSolid = 0, kDashed = 1, kBeveled = 2, kInset = 3, kUnderline = 4 };

    int type = kSolid;
    double width = 1;
    // Dash lengths of a dashed border; null with a count of 0 when none.
    std::unique_ptr<double[]> dash;
    int dashCount = 0;
    double red = 0;
    double green = 0;
    double blue = 1;
};

}  // namespace rendova
