#pragma once

#include <cstdio>

#include "image/ImageStream.h"

namespace rendova {

// An ImageStream over a C file handle. Over a handle given by the caller the
// caller keeps ownership and closes it; a stream that opens its file by name
// owns the handle and closes it on close() or destruction. This is the only
// place where the image library touches files.
class FileImageStream : public ImageStream {
public:
    // Over `handle`, which the caller opened and will close; a null handle
    // makes a stream that answers every operation as having no file.
    explicit FileImageStream(std::FILE* handle = nullptr);
    // Opens `fileName` with the C library `mode` ("rb", "wb"); isOpen() tells
    // whether that worked.
    FileImageStream(const char* fileName, const char* mode);
    ~FileImageStream() override;

    bool isOpen() const { return m_handle != nullptr; }

    bool close() override;
    size_t read(void* buffer, size_t itemSize, size_t count) override;
    size_t write(const void* buffer, size_t itemSize, size_t count) override;
    bool seek(int32_t offset, int origin) override;
    int32_t tell() override;
    int32_t size() override;
    bool flush() override;
    bool eof() override;
    int32_t error() override;
    bool putc(uint8_t byte) override;
    int getc() override;

private:
    std::FILE* m_handle = nullptr;
    bool m_closeOnDestroy = false;
};

}  // namespace rendova
