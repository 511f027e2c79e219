/* Many threads converting documents through the library at once: every page
 * must come out byte for byte as it does when converted alone, and nothing
 * may crash. Also checks that a progress callback may call back into the
 * library on its own handle during rendovaConvertAllPages.
 *
 *   threaded_convert <corpus folder> <output folder> <threads> <rounds> <pages>
 *
 * Exits 0 on success, 1 on a failure, 77 when the corpus is absent. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "rendova.h"

static const char* const kDocuments[] = {
    "deb-r-intro.pdf",
    "deb-prawn-manual.pdf",
    "deb-reportlab-userguide.pdf",
    "deb-valgrind-manual-fop.pdf",
    "made-gs-tiger.pdf",
    "gh-gs-annots.pdf",
    "made-groff-pic-ms.pdf",
    "made-cairo-features-cjk-emoji.pdf",
};
enum { kDocumentCount = sizeof kDocuments / sizeof kDocuments[0] };

static const char* g_corpus;
static const char* g_output;
static int g_rounds;
static int g_pages;
static int g_pagesOf[kDocumentCount];

static pthread_mutex_t g_reportLock = PTHREAD_MUTEX_INITIALIZER;
static int g_failures;

static void fail(const char* what, const char* detail) {
    pthread_mutex_lock(&g_reportLock);
    ++g_failures;
    fprintf(stderr, "%s: %s\n", what, detail);
    pthread_mutex_unlock(&g_reportLock);
}

/* Converts pages 1 .. min(pages, count) of document `index` as PNG at 72 dpi
 * into `folder`, named p1, p2, ...; returns the page count or a status. */
static int convertDocument(int index, const char* folder) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", g_corpus, kDocuments[index]);
    mkdir(folder, 0755);
    const int handle = rendovaOpenDocument(path, NULL, NULL);
    if (handle < 1)
        return handle;
    rendovaSetOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, folder, 0, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_IMAGE_TYPE, NULL, RENDOVA_IMAGE_PNG, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_X_DPI, NULL, 72, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_Y_DPI, NULL, 72, 0);
    const int count = rendovaGetPageCount(handle);
    const int last = count < g_pages ? count : g_pages;
    for (int page = 1; page <= last; ++page) {
        char name[32];
        snprintf(name, sizeof name, "p%d", page);
        const int result = rendovaConvertPage(handle, page, name);
        if (result != RENDOVA_SUCCESS) {
            rendovaCloseDocument(handle);
            return result;
        }
    }
    rendovaCloseDocument(handle);
    return count;
}

static int sameFiles(const char* a, const char* b) {
    FILE* fa = fopen(a, "rb");
    FILE* fb = fopen(b, "rb");
    int same = fa != NULL && fb != NULL;
    while (same) {
        const int ca = fgetc(fa);
        const int cb = fgetc(fb);
        if (ca != cb)
            same = 0;
        if (ca == EOF || cb == EOF)
            break;
    }
    if (fa != NULL)
        fclose(fa);
    if (fb != NULL)
        fclose(fb);
    return same;
}

static void* worker(void* argument) {
    const int thread = (int)(intptr_t)argument;
    for (int round = 0; round < g_rounds; ++round) {
        const int index = (thread + round) % kDocumentCount;
        char folder[4096];
        snprintf(folder, sizeof folder, "%s/t%dr%d", g_output, thread, round);
        const int count = convertDocument(index, folder);
        if (count != g_pagesOf[index]) {
            fail("page count or conversion differs under threads", kDocuments[index]);
            continue;
        }
        const int last = count < g_pages ? count : g_pages;
        for (int page = 1; page <= last; ++page) {
            char mine[4200], alone[4200];
            snprintf(mine, sizeof mine, "%s/p%d.png", folder, page);
            snprintf(alone, sizeof alone, "%s/alone%d/p%d.png", g_output, index, page);
            if (!sameFiles(mine, alone))
                fail("page differs from the one converted alone", mine);
        }
    }
    return NULL;
}

/* The progress callback is given the handle as its user value and asks the
 * library for that handle's page count while the conversion runs. */
static int g_countsSeen;
static int g_wrongCounts;
static int countPagesFromCallback(intptr_t handle, int percent) {
    (void)percent;
    const int pages = rendovaGetPageCount((int)handle);
    if (pages != g_pagesOf[4])
        ++g_wrongCounts;
    ++g_countsSeen;
    return 0;
}

static void callbackCallsBackIntoTheLibrary(void) {
    char path[4096], folder[4096];
    snprintf(path, sizeof path, "%s/%s", g_corpus, kDocuments[4]);
    snprintf(folder, sizeof folder, "%s/callback", g_output);
    mkdir(folder, 0755);
    const int handle = rendovaOpenDocument(path, NULL, NULL);
    if (handle < 1) {
        fail("open failed", path);
        return;
    }
    rendovaSetOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, folder, 0, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_X_DPI, NULL, 72, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_Y_DPI, NULL, 72, 0);
    rendovaSetOption(handle, RENDOVA_OPTION_PROGRESS, NULL, (intptr_t)countPagesFromCallback, handle);
    if (rendovaConvertAllPages(handle) != RENDOVA_SUCCESS)
        fail("convert all pages failed", path);
    if (g_countsSeen == 0 || g_wrongCounts != 0)
        fail("the callback's page count was wrong or never asked", path);
    rendovaCloseDocument(handle);
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: %s corpus output threads rounds pages\n", argv[0]);
        return 2;
    }
    g_corpus = argv[1];
    g_output = argv[2];
    const int threads = atoi(argv[3]);
    g_rounds = atoi(argv[4]);
    g_pages = atoi(argv[5]);
    if (threads < 1 || threads > 64 || g_rounds < 1 || g_pages < 1) {
        fprintf(stderr, "bad counts\n");
        return 2;
    }
    for (int i = 0; i < kDocumentCount; ++i) {
        char path[4096];
        snprintf(path, sizeof path, "%s/%s", g_corpus, kDocuments[i]);
        FILE* probe = fopen(path, "rb");
        if (probe == NULL) {
            printf("corpus file %s is absent: skipped\n", path);
            return 77;
        }
        fclose(probe);
    }
    mkdir(g_output, 0755);

    /* The reference: every document converted alone, one after another. */
    for (int i = 0; i < kDocumentCount; ++i) {
        char folder[4096];
        snprintf(folder, sizeof folder, "%s/alone%d", g_output, i);
        g_pagesOf[i] = convertDocument(i, folder);
        if (g_pagesOf[i] < 1) {
            fail("cannot convert alone", kDocuments[i]);
            return 1;
        }
    }
    callbackCallsBackIntoTheLibrary();

    pthread_t ids[64];
    for (int t = 0; t < threads; ++t)
        if (pthread_create(&ids[t], NULL, worker, (void*)(intptr_t)t) != 0) {
            fail("cannot start thread", "");
            return 1;
        }
    for (int t = 0; t < threads; ++t)
        pthread_join(ids[t], NULL);
    if (g_failures != 0) {
        fprintf(stderr, "%d failures\n", g_failures);
        return 1;
    }
    printf("%d threads x %d rounds: every page as converted alone\n", threads, g_rounds);
    return 0;
}
