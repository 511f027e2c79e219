#include "frontend/Artwork.h"

#include <wx/brush.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>

#include <algorithm>
#include <memory>

namespace glimmark {

const wxColour kBandColour(0x1F, 0x4E, 0x79);

namespace {

// The pictures share one small palette so that they read as one set.
const wxColour kInk(0x1F, 0x4E, 0x79);     // deep blue: outlines, arrows
const wxColour kAccent(0xF2, 0x8C, 0x28);  // orange: sun, highlights
const wxColour kGo(0x2E, 0x9E, 0x4F);      // green: convert, finish, add
const wxColour kHalt(0xD2, 0x3B, 0x3B);    // red: stop, delete
const wxColour kPaper(0xFF, 0xFF, 0xFF);
const wxColour kShade(0xE3, 0xEC, 0xF5);  // light blue: page and folder fill

// A transparent image of the given size with a graphics context scaled so that
// drawing happens on a 16 x 16 grid. The picture lands in the image when the
// context is destroyed.
struct Canvas {
    wxImage image;
    std::unique_ptr<wxGraphicsContext> gc;

    Canvas(int width, int height, double grid = 16.0) : image(width, height) {
        image.InitAlpha();
        unsigned char* alpha = image.GetAlpha();
        std::fill(alpha, alpha + static_cast<size_t>(width) * height, 0);
        gc.reset(wxGraphicsContext::Create(image));
        gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
        gc->Scale(height / grid, height / grid);
    }

    wxBitmap finish() {
        gc.reset();
        return wxBitmap(image);
    }

    void pen(const wxColour& colour, double width) {
        gc->SetPen(gc->CreatePen(wxGraphicsPenInfo(colour).Width(width).Cap(wxCAP_ROUND).Join(wxJOIN_ROUND)));
    }
    void noPen() { gc->SetPen(wxNullGraphicsPen); }
    void brush(const wxColour& colour) { gc->SetBrush(wxBrush(colour)); }
    void noBrush() { gc->SetBrush(wxNullGraphicsBrush); }

    void line(double x1, double y1, double x2, double y2) { gc->StrokeLine(x1, y1, x2, y2); }

    void polygon(std::initializer_list<wxPoint2DDouble> points, bool fill = true, bool stroke = true) {
        wxGraphicsPath path = gc->CreatePath();
        bool first = true;
        for (const wxPoint2DDouble& point : points) {
            if (first)
                path.MoveToPoint(point);
            else
                path.AddLineToPoint(point);
            first = false;
        }
        path.CloseSubpath();
        if (fill)
            gc->FillPath(path);
        if (stroke)
            gc->StrokePath(path);
    }

    // A sheet of paper with a folded top-right corner.
    void page(double x, double y, double w, double h) {
        double fold = w * 0.35;
        brush(kShade);
        pen(kInk, 1.0);
        polygon({{x, y}, {x + w - fold, y}, {x + w, y + fold}, {x + w, y + h}, {x, y + h}});
        noBrush();
        polygon({{x + w - fold, y}, {x + w - fold, y + fold}, {x + w, y + fold}}, false, true);
    }

    // A round badge with a white plus.
    void plusBadge(double cx, double cy, double r, const wxColour& colour) {
        noPen();
        brush(colour);
        gc->DrawEllipse(cx - r, cy - r, 2 * r, 2 * r);
        pen(kPaper, 1.3);
        line(cx - r * 0.55, cy, cx + r * 0.55, cy);
        line(cx, cy - r * 0.55, cx, cy + r * 0.55);
    }

    // A filled circle with a centred character in white.
    void letterDisc(const wxColour& colour, const wxString& letter) {
        noPen();
        brush(colour);
        gc->DrawEllipse(1, 1, 14, 14);
        wxFont font(wxFontInfo(10).Bold().Family(wxFONTFAMILY_SWISS));
        gc->SetFont(font, kPaper);
        double width, height, descent, leading;
        gc->GetTextExtent(letter, &width, &height, &descent, &leading);
        gc->DrawText(letter, 8 - width / 2, 8 - height / 2);
    }
};

void drawApp(Canvas& c) {
    // A page turning into a picture: the page with a landscape on it.
    c.page(2.5, 1, 11, 14);
    c.noPen();
    c.brush(kAccent);
    c.gc->DrawEllipse(8.2, 6, 2.6, 2.6);
    c.brush(kGo);
    c.polygon({{3.5, 14}, {6.8, 8.5}, {9.2, 11.5}, {10.4, 10.2}, {12.5, 14}}, true, false);
}

void drawWindowButton(Canvas& c, Icon icon) {
    c.pen(kPaper, 1.6);
    c.noBrush();
    switch (icon) {
        case Icon::kClose:
            c.line(4, 4, 12, 12);
            c.line(12, 4, 4, 12);
            break;
        case Icon::kMinimise:
            c.line(4, 11.5, 12, 11.5);
            break;
        case Icon::kMaximise:
            c.gc->DrawRectangle(4, 4, 8, 8);
            break;
        case Icon::kRestore:
            c.pen(kPaper, 1.3);
            c.polygon({{6, 6}, {6, 3.5}, {12.5, 3.5}, {12.5, 10}, {10, 10}}, false, true);
            c.gc->DrawRectangle(3.5, 6, 6.5, 6.5);
            break;
        default:
            break;
    }
}

void drawArrow(Canvas& c, bool right) {
    c.noPen();
    c.brush(kInk);
    if (right)
        c.polygon({{2, 6}, {8, 6}, {8, 2.5}, {14, 8}, {8, 13.5}, {8, 10}, {2, 10}}, true, false);
    else
        c.polygon({{14, 6}, {8, 6}, {8, 2.5}, {2, 8}, {8, 13.5}, {8, 10}, {14, 10}}, true, false);
}

void drawFolder(Canvas& c) {
    c.brush(kShade);
    c.pen(kInk, 1.0);
    c.polygon({{1, 3}, {6, 3}, {7.5, 5}, {14, 5}, {14, 13.5}, {1, 13.5}});
    c.line(1, 6.5, 14, 6.5);
}

}  // namespace

wxBitmap iconBitmap(Icon icon, int size) {
    Canvas c(size, size);
    switch (icon) {
        case Icon::kApp:
            drawApp(c);
            break;
        case Icon::kClose:
        case Icon::kMinimise:
        case Icon::kMaximise:
        case Icon::kRestore:
            drawWindowButton(c, icon);
            break;
        case Icon::kHelp:
            c.letterDisc(kAccent, "?");
            break;
        case Icon::kAbout:
            c.letterDisc(kInk, "i");
            break;
        case Icon::kPrevious:
            drawArrow(c, false);
            break;
        case Icon::kNext:
            drawArrow(c, true);
            break;
        case Icon::kConvert:
            c.noPen();
            c.brush(kGo);
            c.gc->DrawEllipse(1, 1, 14, 14);
            c.brush(kPaper);
            c.polygon({{6, 4.5}, {12, 8}, {6, 11.5}}, true, false);
            break;
        case Icon::kStop:
            c.noPen();
            c.brush(kHalt);
            c.gc->DrawRoundedRectangle(2, 2, 12, 12, 2.5);
            c.brush(kPaper);
            c.gc->DrawRectangle(5.5, 5.5, 5, 5);
            break;
        case Icon::kFinish:
            c.noPen();
            c.brush(kGo);
            c.gc->DrawEllipse(1, 1, 14, 14);
            c.pen(kPaper, 1.8);
            c.noBrush();
            {
                const wxPoint2DDouble tick[3] = {{4.5, 8.3}, {7, 10.8}, {11.8, 5.5}};
                c.gc->StrokeLines(3, tick);
            }
            break;
        case Icon::kAddFiles:
            c.page(1.5, 1, 9.5, 12.5);
            c.plusBadge(11.5, 11.5, 3.8, kGo);
            break;
        case Icon::kAddFolder:
            drawFolder(c);
            c.plusBadge(11.5, 11.5, 3.8, kGo);
            break;
        case Icon::kDelete:
            c.page(1.5, 1, 9.5, 12.5);
            c.noPen();
            c.brush(kHalt);
            c.gc->DrawEllipse(7.7, 7.7, 7.6, 7.6);
            c.pen(kPaper, 1.3);
            c.line(9.8, 11.5, 13.2, 11.5);
            break;
        case Icon::kClear:
            // A waste bin.
            c.brush(kShade);
            c.pen(kInk, 1.0);
            c.polygon({{3.5, 5}, {12.5, 5}, {11.5, 14.5}, {4.5, 14.5}});
            c.line(2, 3.5, 14, 3.5);
            c.line(6.5, 2, 9.5, 2);
            c.line(6.5, 7, 6.8, 12.5);
            c.line(9.5, 7, 9.2, 12.5);
            break;
    }
    return c.finish();
}

wxIconBundle appIcons() {
    wxIconBundle bundle;
    for (int size : {16, 32, 48, 64}) {
        wxIcon icon;
        icon.CopyFromBitmap(iconBitmap(Icon::kApp, size));
        bundle.AddIcon(icon);
    }
    return bundle;
}

wxBitmap titleBandBitmap() {
    wxImage image(8, kTitleBandHeight);
    // Vertical gradient from a lighter blue to the band colour, with a light
    // line at the bottom edge that parts the band from the page.
    const wxColour top(0x2C, 0x66, 0x9C);
    for (int y = 0; y < kTitleBandHeight; ++y) {
        double t = static_cast<double>(y) / (kTitleBandHeight - 1);
        unsigned char r = static_cast<unsigned char>(top.Red() + (kBandColour.Red() - top.Red()) * t);
        unsigned char g = static_cast<unsigned char>(top.Green() + (kBandColour.Green() - top.Green()) * t);
        unsigned char b = static_cast<unsigned char>(top.Blue() + (kBandColour.Blue() - top.Blue()) * t);
        if (y == kTitleBandHeight - 1)
            r = 0xF2, g = 0x8C, b = 0x28;
        for (int x = 0; x < 8; ++x)
            image.SetRGB(x, y, r, g, b);
    }
    return wxBitmap(image);
}

wxBitmap titleMarkBitmap() {
    // Three pages fanned out, the front one showing a picture: many pages in,
    // images out.
    Canvas c(32, 32);
    c.gc->Scale(0.5, 0.5);  // this one is drawn on a 32 x 32 grid
    c.pen(kPaper, 1.4);
    c.brush(wxColour(0x3A, 0x72, 0xA8));
    c.gc->DrawRoundedRectangle(3, 7, 16, 21, 1.5);
    c.gc->DrawRoundedRectangle(8, 5, 16, 21, 1.5);
    c.brush(kPaper);
    c.noPen();
    c.gc->DrawRoundedRectangle(13, 3, 16, 21, 1.5);
    c.brush(kAccent);
    c.gc->DrawEllipse(22, 7, 4, 4);
    c.brush(kGo);
    c.polygon({{15, 21}, {19.5, 13}, {23, 18}, {24.5, 16}, {27, 21}}, true, false);
    return c.finish();
}

wxBitmap aboutTitleBitmap(int width) {
    width = std::max(width, 1);
    wxBitmap band = titleBandBitmap();
    wxBitmap picture(width, kTitleBandHeight);
    {
        wxMemoryDC dc(picture);
        wxMemoryDC source(band);
        dc.StretchBlit(0, 0, width, kTitleBandHeight, &source, 0, 0, band.GetWidth(), band.GetHeight());
        source.SelectObject(wxNullBitmap);
        int top = (kTitleBandHeight - 32) / 2;
        dc.DrawBitmap(iconBitmap(Icon::kApp, 32), 12, top, true);
        dc.DrawBitmap(titleMarkBitmap(), width - 12 - 32, top, true);
    }
    return picture;
}

}  // namespace glimmark
