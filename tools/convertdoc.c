/* convertdoc: converts pages first .. last of one document through the
 * library's public interface, as a client program does, and exits. The
 * whole-document benchmark runs it as a fresh process per document, beside
 * the peer converting the same pages.
 *
 *   convertdoc <document.pdf> <output folder> <dpi> <image type> <first> <last> [password]
 *
 * Prints the number of pages written; exits 0 when every page was. Pages
 * written whose content the document lost count as written and are named
 * on standard error. */
#include <stdio.h>
#include <stdlib.h>

#include "rendova.h"

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) {
        fprintf(stderr, "usage: %s document.pdf folder dpi type first last [password]\n", argv[0]);
        return 2;
    }
    const int dpi = atoi(argv[3]);
    const int type = atoi(argv[4]);
    const int first = atoi(argv[5]);
    int last = atoi(argv[6]);
    /* The password is tried in both slots, as owner and as user. */
    const char* password = argc == 8 ? argv[7] : NULL;
    const int handle = rendovaOpenDocument(argv[1], password, password);
    if (handle < 1) {
        fprintf(stderr, "%s: open failed (%d)\n", argv[1], handle);
        return 1;
    }
    rendovaSetOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, argv[2], 0, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_IMAGE_TYPE, NULL, type, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_X_DPI, NULL, dpi, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_Y_DPI, NULL, dpi, 0);
    const int count = rendovaGetPageCount(handle);
    if (last > count)
        last = count;
    int written = 0;
    for (int page = first; page <= last; ++page) {
        const int result = rendovaConvertPage(handle, page, NULL);
        if (result == RENDOVA_SUCCESS || result == RENDOVA_PAGE_INCOMPLETE)
            ++written;
        if (result == RENDOVA_PAGE_INCOMPLETE)
            fprintf(stderr, "%s: page %d lost content\n", argv[1], page);
        else if (result != RENDOVA_SUCCESS)
            fprintf(stderr, "%s: page %d failed (%d)\n", argv[1], page, result);
    }
    rendovaCloseDocument(handle);
    printf("%d\n", written);
    return written == last - first + 1 ? 0 : 1;
}
