// Geometry against a peer: small pages of filled and stroked paths (caps,
// joins, dashes, both fill rules, clips), each written once as content-stream
// text. The text goes into a one-page PDF that the peer renders with
// `mutool draw`, and through a small interpreter of the same path operators
// straight into the rasteriser (page coordinates under the 72-to-dpi matrix,
// y flipped as a page is). The two images may differ only along
// anti-aliased edges: a pixel differs when any channel is off by more than
// kChannelTolerance, and a page fails when more than its stated share of
// pixels differ. A failing page leaves both renderings and a difference
// image in the test output folder.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/raster/Rasteriser.h"
#include "tests/render/RenderCompare.h"

namespace rendova {
namespace {

using test::havePeer;
using test::renderWithPeer;
using test::RgbImage;
using test::writePng;

constexpr int kDpi = 144;
constexpr double kPageWidth = 200;  // points
constexpr double kPageHeight = 150;

// ---- The peer's side: a one-page PDF and mutool. ----

std::string makePdf(const std::string& content) {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(static_cast<int>(kPageWidth)) + " " +
            std::to_string(static_cast<int>(kPageHeight)) + "] /Contents 4 0 R /Resources << >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// The page and the peer's rendering go to the tests' output folder, never
// to the folder the test runs in.
bool renderContentWithPeer(const std::string& name, const std::string& content, RgbImage& out) {
    const std::filesystem::path dir = std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "geometry";
    std::filesystem::create_directories(dir);
    const std::string pdfPath = (dir / (name + ".pdf")).string();
    std::ofstream(pdfPath, std::ios::binary) << makePdf(content);
    return renderWithPeer(pdfPath, 1, kDpi, "", (dir / (name + "-peer.png")).string(), out);
}

// ---- Our side: the same operators driving the rasteriser. ----

class PathInterpreter {
public:
    explicit PathInterpreter(Rasteriser& r) : m_r(r) {
        const double k = kDpi / 72.0;
        m_ctm = {k, 0, 0, -k, 0, kPageHeight * k};
        m_r.setMatrix(m_ctm.data());
        m_r.setLineWidth(1);  // the format's default line width
    }

    void run(const std::string& content) {
        std::istringstream in(content);
        std::string token;
        while (in >> token) {
            if (token == "[") {
                m_array.clear();
                while (in >> token && token != "]")
                    m_array.push_back(std::stod(token));
                continue;
            }
            char* end = nullptr;
            const double v = std::strtod(token.c_str(), &end);
            if (end && *end == 0) {
                m_operands.push_back(v);
                continue;
            }
            apply(token);
            m_operands.clear();
        }
    }

private:
    double arg(size_t i) const { return m_operands.at(i); }

    void apply(const std::string& op) {
        if (op == "m") {
            m_path->moveTo(arg(0), arg(1));
        } else if (op == "l") {
            m_path->lineTo(arg(0), arg(1));
        } else if (op == "c") {
            m_path->curveTo(arg(0), arg(1), arg(2), arg(3), arg(4), arg(5));
        } else if (op == "h") {
            m_path->close();
        } else if (op == "re") {
            m_path->moveTo(arg(0), arg(1));
            m_path->lineTo(arg(0) + arg(2), arg(1));
            m_path->lineTo(arg(0) + arg(2), arg(1) + arg(3));
            m_path->lineTo(arg(0), arg(1) + arg(3));
            m_path->close();
        } else if (op == "f") {
            m_r.fill(*m_path, false);
            endPath();
        } else if (op == "f*") {
            m_r.fill(*m_path, true);
            endPath();
        } else if (op == "S") {
            m_r.stroke(*m_path);
            endPath();
        } else if (op == "n") {
            endPath();
        } else if (op == "W") {
            m_clip = 1;
        } else if (op == "W*") {
            m_clip = 2;
        } else if (op == "w") {
            m_r.setLineWidth(arg(0));
        } else if (op == "J") {
            m_r.setLineCap(static_cast<int>(arg(0)));
        } else if (op == "j") {
            m_r.setLineJoin(static_cast<int>(arg(0)));
        } else if (op == "M") {
            m_r.setMiterLimit(arg(0));
        } else if (op == "d") {
            m_r.setLineDash(m_array.data(), static_cast<int>(m_array.size()), arg(0));
        } else if (op == "rg" || op == "RG") {
            const uint8_t c[3] = {toByte(arg(0)), toByte(arg(1)), toByte(arg(2))};
            if (op == "rg")
                m_r.setFillPattern(new RasterSolidColor(c));
            else
                m_r.setStrokePattern(new RasterSolidColor(c));
        } else if (op == "q") {
            m_r.saveState();
            m_saved.push_back(m_ctm);
        } else if (op == "Q") {
            m_r.restoreState();
            m_ctm = m_saved.back();
            m_saved.pop_back();
        } else if (op == "cm") {
            const std::array<double, 6> a = {arg(0), arg(1), arg(2), arg(3), arg(4), arg(5)};
            const std::array<double, 6> b = m_ctm;
            m_ctm = {a[0] * b[0] + a[1] * b[2],        a[0] * b[1] + a[1] * b[3],
                     a[2] * b[0] + a[3] * b[2],        a[2] * b[1] + a[3] * b[3],
                     a[4] * b[0] + a[5] * b[2] + b[4], a[4] * b[1] + a[5] * b[3] + b[5]};
            m_r.setMatrix(m_ctm.data());
        } else {
            ADD_FAILURE() << "operator not in the harness: " << op;
        }
    }

    static uint8_t toByte(double v) { return static_cast<uint8_t>(std::lround(v * 255)); }

    // The clip takes effect after the path's painting, as the format says.
    void endPath() {
        if (m_clip)
            m_r.clipToPath(*m_path, m_clip == 2);
        m_clip = 0;
        m_path = std::make_unique<RasterPath>();
    }

    Rasteriser& m_r;
    std::array<double, 6> m_ctm;
    std::vector<std::array<double, 6>> m_saved;
    std::vector<double> m_operands;
    std::vector<double> m_array;
    std::unique_ptr<RasterPath> m_path = std::make_unique<RasterPath>();
    int m_clip = 0;
};

RgbImage renderOurselves(const std::string& content) {
    const int width = static_cast<int>(std::lround(kPageWidth * kDpi / 72));
    const int height = static_cast<int>(std::lround(kPageHeight * kDpi / 72));
    RasterBitmap bitmap(width, height, 4, rasterRGB8, false, false);
    {
        Rasteriser r(&bitmap, true, nullptr);
        const uint8_t white[3] = {255, 255, 255};
        r.clear(white, 255);
        PathInterpreter(r).run(content);
    }
    RgbImage out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.getPixel(x, y, &out.pixels[(static_cast<size_t>(y) * width + x) * 3]);
    return out;
}

// ---- The comparison. ----

void compareWithPeer(const std::string& name, const std::string& content, double allowedShare) {
    if (!havePeer())
        GTEST_SKIP() << "mutool is not installed";
    RgbImage peer;
    ASSERT_TRUE(renderContentWithPeer(name, content, peer)) << "mutool failed on " << name;
    const RgbImage ours = renderOurselves(content);
    ASSERT_EQ(peer.width, ours.width);
    ASSERT_EQ(peer.height, ours.height);

    size_t inked = 0;
    for (size_t i = 0; i < ours.pixels.size(); i += 3)
        inked += ours.pixels[i] != 255 || ours.pixels[i + 1] != 255 || ours.pixels[i + 2] != 255;
    const test::Comparison c = test::compareImages(ours, peer);
    const size_t total = ours.pixels.size() / 3;
    const double share = c.share;
    std::printf("[ geometry ] %-14s %6zu of %zu pixels differ (%.3f%%), PSNR %.1f dB, %zu inked\n",
                name.c_str(), c.differing, total, share * 100, c.psnr, inked);
    EXPECT_GT(inked, total / 100) << name << ": the page drew almost nothing";
    EXPECT_LE(share, allowedShare) << name << ": see " << name << "-diff.png in the test output folder";
    if (share > allowedShare) {
        writePng(name + "-ours.png", ours);
        writePng(name + "-diff.png", c.diff);
    }
}

// Edge pixels are the only expected differences; on these pages they are a
// small fraction of the page.
constexpr double kAllowedShare = 0.005;

TEST(RasteriserGeometryTest, FillRulesOnAStar) {
    compareWithPeer("star",
                    "0.1 0.2 0.7 rg 20 20 m 80 130 l 140 20 l 10 95 l 150 95 l h f "
                    "0.8 0.1 0.1 rg 110 20 m 170 130 l 190 20 l 100 95 l 195 95 l h f*",
                    kAllowedShare);
}

TEST(RasteriserGeometryTest, CurvesAndRings) {
    compareWithPeer(
        "curves",
        "0 0.5 0 rg 100 75 m 100 116 67 140 40 140 c 13 140 -20 116 -20 75 c -20 34 13 10 40 10 c "
        "67 10 100 34 100 75 c h f "
        "0.6 0 0.6 rg 150 75 m 150 100 170 120 190 120 c 170 120 160 90 180 75 c h "
        "120 40 m 195 40 l 195 60 l 120 60 l h 130 45 m 130 55 l 185 55 l 185 45 l h f*",
        kAllowedShare);
}

TEST(RasteriserGeometryTest, LineCaps) {
    compareWithPeer("caps",
                    "0 0 0 RG 12 w 0 J 30 120 m 170 120 l S 1 J 30 80 m 170 80 l S 2 J 30 40 m 170 40 l S "
                    "0.9 0.2 0.2 RG 1 J 20 w 60 10 m 60.01 10 l S",
                    kAllowedShare);
}

TEST(RasteriserGeometryTest, LineJoinsAndMiterLimit) {
    compareWithPeer(
        "joins",
        "0 0 0.6 RG 10 w 0 j 15 20 m 40 120 l 65 20 l S 1 j 80 20 m 105 120 l 130 20 l S "
        "2 j 145 20 m 170 120 l 195 20 l S "
        "0.7 0 0 RG 6 w 0 j 2 M 20 135 m 100 140 l 20 145 l S 10 M 110 135 m 190 140 l 110 145 l S",
        kAllowedShare);
}

TEST(RasteriserGeometryTest, DashPatternsAndPhases) {
    compareWithPeer("dashes",
                    "0 0 0 RG 4 w [ 12 6 ] 0 d 10 130 m 190 130 l S [ 12 6 ] 9 d 10 110 m 190 110 l S "
                    "[ 20 5 5 5 ] 0 d 1 J 10 90 m 190 90 l S [ 3 2 ] 4 d 0 J 10 70 m 190 70 l S "
                    "[ 15 10 ] 0 d 2 j 20 10 m 60 50 l 100 10 l 140 50 l 180 10 l S",
                    kAllowedShare);
}

TEST(RasteriserGeometryTest, ClipPaths) {
    compareWithPeer("clips",
                    "q 100 75 m 100 116 67 140 40 140 c 13 140 -20 116 -20 75 c -20 34 13 10 40 10 c "
                    "67 10 100 34 100 75 c h W n 0.2 0.6 0.2 rg 0 0 200 150 re f Q "
                    "q 110 10 80 130 re 130 30 40 90 re W* n 0 0 0.8 rg 100 0 100 150 re f "
                    "0.8 0 0 RG 8 w 100 75 m 200 140 l S Q",
                    kAllowedShare);
}

TEST(RasteriserGeometryTest, TransformedStrokes) {
    compareWithPeer("transformed",
                    "q 0.866 0.5 -0.5 0.866 100 20 cm 0 0 0 RG 5 w 1 j 0 0 m 80 0 l 80 50 l 0 50 l h S Q "
                    "q 2 0 0 0.5 10 100 cm 0.5 0 0.5 RG 3 w 0 j 0 0 m 40 60 l 80 0 l S Q",
                    kAllowedShare);
}

// Hairlines (width 0) are a pixel wide here, aliased, one run per row as the
// rasteriser's thin-line rule draws them; the peer anti-aliases them, so
// nearly every pixel of a hairline differs. The three hairlines are about
// 1000 pixels long together: the allowance of 1 % of the page's 120000
// pixels covers their length and little else.
TEST(RasteriserGeometryTest, Hairlines) {
    compareWithPeer("hairlines",
                    "0 0 0 RG 0 w 10 10 m 190 140 l 10 140 m 190 10 l 100 5 m 100 145 l S "
                    "0 0 0 rg 20 60 40 30 re f",
                    0.01);
}

}  // namespace
}  // namespace rendova
