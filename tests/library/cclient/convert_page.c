/* A client of the conversion library written in C, using nothing but its
 * public header: converts one page of a document to PNG and checks that the
 * file appeared.
 *
 *   convert_page <document.pdf> <output folder> <page>
 *
 * Exits 0 when the page was written. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rendova.h"

static int progressCalls = 0;

static int onProgress(intptr_t userValue, int percent) {
    (void)userValue;
    (void)percent;
    ++progressCalls;
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s document.pdf folder page\n", argv[0]);
        return 2;
    }
    const char* document = argv[1];
    const char* folder = argv[2];
    const int page = atoi(argv[3]);

    /* The interface's inert ordinals answer as documented. */
    if (rendovaReserved8() != 4 || rendovaExports[7] != (RendovaProc)rendovaReserved8) {
        fprintf(stderr, "reserved ordinal 8 is wrong\n");
        return 1;
    }

    const int handle = rendovaOpenDocument(document, NULL, NULL);
    if (handle < 1) {
        fprintf(stderr, "open failed: %d\n", handle);
        return 1;
    }
    if (rendovaSetOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, folder, 0, 0) != RENDOVA_SUCCESS ||
        rendovaSetOption(handle, RENDOVA_OPTION_IMAGE_TYPE, NULL, RENDOVA_IMAGE_PNG, 0) != RENDOVA_SUCCESS ||
        rendovaSetOption(handle, RENDOVA_OPTION_PROGRESS, NULL, (intptr_t)onProgress, 0) != RENDOVA_SUCCESS ||
        rendovaSetOption(handle, 16, NULL, 0, 0) != RENDOVA_UNKNOWN_OPTION) {
        fprintf(stderr, "options refused\n");
        return 1;
    }
    const int pages = rendovaGetPageCount(handle);
    if (page < 1 || page > pages) {
        fprintf(stderr, "page %d outside 1..%d\n", page, pages);
        return 1;
    }
    if (rendovaConvertPage(handle, page, "c-client") != RENDOVA_SUCCESS) {
        fprintf(stderr, "conversion failed\n");
        return 1;
    }
    if (rendovaCloseDocument(handle) != RENDOVA_SUCCESS ||
        rendovaCloseDocument(handle) != RENDOVA_NULL_HANDLE) {
        fprintf(stderr, "close answered wrongly\n");
        return 1;
    }

    char path[4096];
    snprintf(path, sizeof path, "%s/c-client.png", folder);
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        fprintf(stderr, "no file %s\n", path);
        return 1;
    }
    unsigned char signature[8] = {0};
    const size_t got = fread(signature, 1, sizeof signature, file);
    fclose(file);
    if (got != 8 || memcmp(signature, "\x89PNG\r\n\x1a\n", 8) != 0) {
        fprintf(stderr, "%s is no PNG file\n", path);
        return 1;
    }
    printf("converted page %d of %d into %s\n", page, pages, path);
    return 0;
}
