/* Rendova: converts the pages of PDF documents into image files.
 *
 * The library's whole interface is the twelve functions below; programs that
 * load it at run time find them by ordinal through the table rendovaExports
 * (entry n - 1 is ordinal n). This header is plain C.
 *
 * Use: rendovaOpenDocument gives a handle (1 or more) or a status below 1;
 * rendovaSetOption sets the options of that document's conversion;
 * rendovaGetPageCount tells the pages; rendovaConvertPage writes one page
 * (or rendovaConvertAllPages all of them); rendovaCloseDocument ends the
 * handle. Calls run to completion on the caller's thread; strings are
 * NUL-terminated UTF-8, owned by the caller.
 *
 * Threads: call the library from one thread at a time where you can. Calls
 * that do overlap are safe but serialised: one process-wide lock lets one
 * call run at a time, so threads gain no speed; several processes are the
 * way to use several cores. A callback may call the library again from
 * inside a conversion (the lock is recursive).
 */
#ifndef RENDOVA_H
#define RENDOVA_H

#include <stdint.h>

#if defined(__GNUC__)
#define RENDOVA_API __attribute__((visibility("default")))
#else
#define RENDOVA_API
#endif

#ifdef __cplusplus
#define RENDOVA_NOEXCEPT noexcept
extern "C" {
#else
#define RENDOVA_NOEXCEPT
#endif

/* Status codes: 1 for success, negative numbers for failures; 2 for a page
 * that was written but is incomplete. */
enum {
    RENDOVA_SUCCESS = 1,
    RENDOVA_PAGE_INCOMPLETE = 2,     /* written, but content of the page was lost in the
                                        document (a damaged file): the image lacks it */
    RENDOVA_INPUT_MISSING = -2,      /* no path given, or no such file */
    RENDOVA_OPEN_FAILED = -3,        /* the document cannot be opened */
    RENDOVA_PASSWORD_NEEDED = -4,    /* encrypted; neither password opens it */
    RENDOVA_PAGE_OUT_OF_RANGE = -5,  /* page number outside 1 .. page count */
    RENDOVA_CANCELLED = -6,          /* cancelled through the cancel callback */
    RENDOVA_INVALID_PAGE_RANGE = -7, /* invalid custom page range */
    RENDOVA_PAGE_TOO_LARGE = -8,     /* the page has more pixels at the resolution and zoom set
                                        than can be drawn or the image type holds */
    RENDOVA_NULL_HANDLE = -10,       /* the handle names no open document */
    RENDOVA_UNKNOWN_OPTION = -11,    /* unrecognised option identifier */
    RENDOVA_OTHER_FAILURE = -99      /* any other failure */
};

/* Option identifiers of rendovaSetOption, with the argument each reads, its
 * range and the default a document gets when the option is not set. Options
 * apply from the next page converted. */
enum {
    RENDOVA_OPTION_OUTPUT_FOLDER = 1,     /* text: the folder for the image files, made when missing;
                                             default: the input file's folder */
    RENDOVA_OPTION_BASE_NAME = 2,         /* text: the stem of the numbered file names;
                                             default: the input file's name without its extension */
    RENDOVA_OPTION_ZOOM = 3,              /* value: percent, clamped to 10 .. 200; default 100 */
    RENDOVA_OPTION_BACKGROUND_COLOUR = 4, /* value: 0x00BBGGRR; default 0xFFFFFF (white) */
    RENDOVA_OPTION_IMAGE_TYPE = 5,        /* value: one of RENDOVA_IMAGE_..., any other value BMP;
                                             default RENDOVA_IMAGE_JPEG */
    RENDOVA_OPTION_BITS_PER_PIXEL = 6,    /* value: 1, 4, 8 or 24; default 24 */
    RENDOVA_OPTION_X_DPI = 7,             /* value: clamped to 72 .. 500; default 120 */
    RENDOVA_OPTION_Y_DPI = 8,             /* value: clamped to 72 .. 500; default 120 */
    RENDOVA_OPTION_QUALITY = 9,           /* value: JPEG quality 1 .. 100; default 75 */
    RENDOVA_OPTION_COMPRESSION = 10,      /* value: TIFF compression setting 0 .. 6; default 0 */
    RENDOVA_OPTION_MULTI_PAGE_TIFF = 11,  /* value: non-zero for one TIFF file per document; default 0 */
    RENDOVA_OPTION_GREYSCALE = 12,        /* value: non-zero for grey output; default 0 */
    RENDOVA_OPTION_OUTPUT_WIDTH = 13,     /* value: pixels, above 0; with the height, the page is
                                             resized to width x height; default 0 (not resized) */
    RENDOVA_OPTION_OUTPUT_HEIGHT = 14,    /* value: pixels, above 0; default 0 */
    RENDOVA_OPTION_ROTATION = 15,         /* value: degrees; default 0 */
    RENDOVA_OPTION_PROGRESS = 40,         /* value: RendovaProgressFunction; value2: its user value;
                                             default none */
    RENDOVA_OPTION_CANCEL = 91,           /* value: RendovaCancelFunction; default none */
    RENDOVA_OPTION_POLL = 92,             /* value: RendovaPollFunction, called after each page only
                                             while a cancel function is set; default none */
    RENDOVA_OPTION_WRITER_FLAG = 93       /* value: kept, no effect */
};

/* The defaults and limits above, for programs that show or check them. */
enum {
    RENDOVA_DEFAULT_ZOOM = 100,
    RENDOVA_MIN_ZOOM = 10,
    RENDOVA_MAX_ZOOM = 200,
    RENDOVA_DEFAULT_DPI = 120,
    RENDOVA_MIN_DPI = 72,
    RENDOVA_MAX_DPI = 500,
    RENDOVA_DEFAULT_QUALITY = 75,
    RENDOVA_DEFAULT_BITS_PER_PIXEL = 24,
    RENDOVA_DEFAULT_IMAGE_TYPE = 4 /* RENDOVA_IMAGE_JPEG */
};

/* Image types (RENDOVA_OPTION_IMAGE_TYPE); any other value means BMP. */
enum {
    RENDOVA_IMAGE_BMP = 1,
    RENDOVA_IMAGE_EMF = 2,
    RENDOVA_IMAGE_WMF = 3,
    RENDOVA_IMAGE_JPEG = 4,
    RENDOVA_IMAGE_PNG = 5,
    RENDOVA_IMAGE_GIF = 6,
    RENDOVA_IMAGE_TIFF = 7,
    RENDOVA_IMAGE_PCX = 8
};

/* Ordinals of the export table. */
enum {
    RENDOVA_ORDINAL_OPEN_DOCUMENT = 1,
    RENDOVA_ORDINAL_CLOSE_DOCUMENT = 3,
    RENDOVA_ORDINAL_CONVERT_ALL_PAGES = 5,
    RENDOVA_ORDINAL_CONVERT_PAGE = 7,
    RENDOVA_ORDINAL_SET_OPTION = 9,
    RENDOVA_ORDINAL_GET_PAGE_COUNT = 11,
    RENDOVA_EXPORT_COUNT = 12
};

/* Callbacks, called on the caller's thread between pages; results ignored
 * except the poll function's: 2 asks to cancel. */
typedef int (*RendovaProgressFunction)(intptr_t userValue, int percent);
typedef int (*RendovaCancelFunction)(int value);
typedef int (*RendovaPollFunction)(void);

/* Ordinal 1: opens a document; password 1 is tried as the owner password and
 * password 2 as the user password (either may be null). A handle of 1 or
 * more, or RENDOVA_INPUT_MISSING, RENDOVA_OPEN_FAILED,
 * RENDOVA_PASSWORD_NEEDED, RENDOVA_OTHER_FAILURE. */
RENDOVA_API int rendovaOpenDocument(const char* path, const char* ownerPassword,
                                    const char* userPassword) RENDOVA_NOEXCEPT;
/* Ordinal 3: ends the handle and closes its files. */
RENDOVA_API int rendovaCloseDocument(int handle) RENDOVA_NOEXCEPT;
/* Ordinal 5: converts every page, numbered "<base name><page as 5 digits>";
 * the result of the first page that fails, else RENDOVA_PAGE_INCOMPLETE when
 * a page lost content, else RENDOVA_SUCCESS. */
RENDOVA_API int rendovaConvertAllPages(int handle) RENDOVA_NOEXCEPT;
/* Ordinal 7: converts page `page` (from 1) into "<name>.<extension>" in the
 * output folder; a null name gives the numbered name, and a name holding a
 * '/' is refused with RENDOVA_OTHER_FAILURE. A multi-page TIFF document
 * appends the page to "<base name>.tif" whatever the name. A page file
 * appears under its name only when it is complete. RENDOVA_SUCCESS,
 * RENDOVA_PAGE_INCOMPLETE (written, but the document lost some or all of the
 * page's content), or RENDOVA_PAGE_OUT_OF_RANGE, RENDOVA_CANCELLED (the poll
 * function asked to stop after this page), RENDOVA_PAGE_TOO_LARGE (nothing
 * written: a lower resolution may fit), RENDOVA_OTHER_FAILURE (the file
 * could not be written: a path over 259 characters, a folder that cannot be
 * written, a full disk). */
RENDOVA_API int rendovaConvertPage(int handle, int page, const char* name) RENDOVA_NOEXCEPT;
/* Ordinal 9: sets one option; `text` is read by identifiers 1 and 2 only,
 * `value2` by identifier 40 only. */
RENDOVA_API int rendovaSetOption(int handle, int option, const char* text, intptr_t value,
                                 intptr_t value2) RENDOVA_NOEXCEPT;
/* Ordinal 11: the page count. */
RENDOVA_API int rendovaGetPageCount(int handle) RENDOVA_NOEXCEPT;

/* Ordinals 2, 4, 6, 8, 10 and 12: reserved; they return 1 to 6 and do
 * nothing else. */
RENDOVA_API int rendovaReserved2(void) RENDOVA_NOEXCEPT;
RENDOVA_API int rendovaReserved4(void) RENDOVA_NOEXCEPT;
RENDOVA_API int rendovaReserved6(void) RENDOVA_NOEXCEPT;
RENDOVA_API int rendovaReserved8(void) RENDOVA_NOEXCEPT;
RENDOVA_API int rendovaReserved10(void) RENDOVA_NOEXCEPT;
RENDOVA_API int rendovaReserved12(void) RENDOVA_NOEXCEPT;

/* The export table: entry n - 1 holds ordinal n; cast an entry to its
 * function's type before calling it. */
typedef void (*RendovaProc)(void);
RENDOVA_API extern const RendovaProc rendovaExports[RENDOVA_EXPORT_COUNT];

#ifdef __cplusplus
}
#endif

#endif /* RENDOVA_H */
