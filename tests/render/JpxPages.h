#pragma once

// The JPEG 2000 pages of the render tests: grey, RGB (irreversible), 16-bit
// and an image whose opacity channel is in its data (SMaskInData), each
// written by opj_compress when the pages are first built. Without
// opj_compress the page holds only its backdrop, and both renderers agree.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "tests/render/VectorPages.h"

namespace rendova::test {

// opj_compress's stream of a PNM or PNG file written from bytes, "" when it
// could not be made.
inline std::string jpxStream(const std::string& folder, const std::string& name, const std::string& bytes,
                             const std::string& options, const std::string& convert = "") {
    const std::string in = folder + "/" + name;
    std::ofstream(in, std::ios::binary) << bytes;
    std::string source = in;
    if (!convert.empty()) {
        source = in + ".png";
        if (std::system(("convert " + in + " " + convert + " " + source + " >/dev/null 2>&1").c_str()) != 0)
            return "";
    }
    const std::string out = in + ".jp2";
    if (std::system(
            ("opj_compress -i " + source + " -o " + out + " " + options + " >/dev/null 2>&1").c_str()) != 0)
        return "";
    std::ifstream file(out, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

inline std::map<std::string, VectorPage> jpxPages() {
    static const std::map<std::string, VectorPage> pages = [] {
        std::map<std::string, VectorPage> made;
        VectorPage& page = made["image-jpx"];
        page.content = "1 1 0.85 rg 0 0 240 180 re f ";
        std::string folder = (std::filesystem::temp_directory_path() / "jpx-pages-XXXXXX").string();
        if (!mkdtemp(folder.data()))
            return made;
        const int w = 48, h = 32;
        auto header = [](const char* magic, int maxval) {
            return std::string(magic) + "\n48 32\n" + std::to_string(maxval) + "\n";
        };
        std::string grey = header("P5", 255), rgb = header("P6", 255), wide = header("P5", 65535);
        std::string rgba = "P7\nWIDTH 48\nHEIGHT 32\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool ring = (2 * x - 47) * (2 * x - 47) + (2 * y - 31) * (2 * y - 31) < 800;
                grey += char(x * 5 + (ring ? 15 : 0));
                const char colour[3] = {char(x * 5), char(y * 7), char(ring ? 250 : 60)};
                rgb.append(colour, 3);
                const int v = x * 1350 + y * 37;
                wide += char(v >> 8);
                wide += char(v);
                rgba.append(colour, 3);
                rgba += char(255);
            }
        }
        const std::string streams[4] = {
            jpxStream(folder, "grey.pgm", grey, "-n 3"),
            jpxStream(folder, "rgb.ppm", rgb, "-n 3 -I"),
            jpxStream(folder, "wide.pgm", wide, "-n 3"),
            jpxStream(folder, "rgba.pam", rgba, "-n 3", "-define png:color-type=6"),
        };
        std::filesystem::remove_all(folder);
        const char* const extra[4] = {"", "", "", "/SMaskInData 1 "};
        std::string names;
        for (int i = 0; i < 4; ++i) {
            if (streams[i].empty())
                continue;
            const std::string name = "J" + std::to_string(i);
            names += "/" + name + " " + std::to_string(10 + i) + " 0 R ";
            page.streams.push_back({10 + i,
                                    {"<< /Type /XObject /Subtype /Image /Width 48 /Height 32 " +
                                         std::string(extra[i]) + "/Filter /JPXDecode >>",
                                     streams[i]}});
            // One point a sample, compared at 72 dpi: the peer smooths
            // enlarged JPEG 2000 samples, which would hide the samples.
            page.content += "q 48 0 0 32 " + std::to_string(30 + 120 * (i % 2)) + " " +
                            std::to_string(110 - 80 * (i / 2)) + " cm /" + name + " Do Q ";
        }
        page.resources = "<< /XObject << " + names + ">> >>";
        return made;
    }();
    return pages;
}

}  // namespace rendova::test
