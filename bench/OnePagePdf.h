#pragma once

// The one-page documents the benchmarks hand to the peer: a page of the
// given size in points with the given content and resources (none by
// default), written to the temporary folder as rendova_bench_<name>.pdf.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/PdfBuilder.h"

namespace rendova::bench {

// A further stream object of the document (object 5 on), for resources
// that must be streams.
struct ExtraStream {
    int num;
    std::string dict;
    std::string data;
};

inline std::string writeOnePagePdf(const std::string& name, int width, int height, const std::string& content,
                                   const std::string& resources = "<< >>",
                                   const std::vector<ExtraStream>& streams = {}) {
    test::PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " +
                       std::to_string(height) + "] /Contents 4 0 R /Resources " + resources + " >>")
        .stream(4, "<< >>", content);
    for (const ExtraStream& extra : streams)
        pdf.stream(extra.num, extra.dict, extra.data);
    pdf.xrefTable();
    const std::string path =
        (std::filesystem::temp_directory_path() / ("rendova_bench_" + name + ".pdf")).string();
    std::ofstream(path, std::ios::binary) << pdf.bytes();
    return path;
}

}  // namespace rendova::bench
