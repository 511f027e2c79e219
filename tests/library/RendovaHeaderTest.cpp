// The public header and the wizard are two descriptions of one interface:
// their numbers must agree.
#include <gtest/gtest.h>

#include <type_traits>

#include "frontend/LibraryInterface.h"
#include "library/rendova.h"

namespace {

static_assert(RENDOVA_SUCCESS == glimmark::kStatusSuccess);
static_assert(RENDOVA_INPUT_MISSING == glimmark::kStatusInputMissing);
static_assert(RENDOVA_OPEN_FAILED == glimmark::kStatusOpenFailed);
static_assert(RENDOVA_PASSWORD_NEEDED == glimmark::kStatusPasswordNeeded);
static_assert(RENDOVA_PAGE_OUT_OF_RANGE == glimmark::kStatusPageOutOfRange);
static_assert(RENDOVA_CANCELLED == glimmark::kStatusCancelled);
static_assert(RENDOVA_INVALID_PAGE_RANGE == glimmark::kStatusInvalidPageRange);
static_assert(RENDOVA_PAGE_TOO_LARGE == glimmark::kStatusPageTooLarge);
static_assert(RENDOVA_PAGE_INCOMPLETE == glimmark::kStatusPageIncomplete);
static_assert(RENDOVA_NULL_HANDLE == glimmark::kStatusNullHandle);
static_assert(RENDOVA_UNKNOWN_OPTION == glimmark::kStatusUnknownOption);
static_assert(RENDOVA_OTHER_FAILURE == glimmark::kStatusOtherFailure);

static_assert(RENDOVA_ORDINAL_OPEN_DOCUMENT == glimmark::kOrdinalOpenDocument);
static_assert(RENDOVA_ORDINAL_CLOSE_DOCUMENT == glimmark::kOrdinalCloseDocument);
static_assert(RENDOVA_ORDINAL_CONVERT_PAGE == glimmark::kOrdinalConvertPage);
static_assert(RENDOVA_ORDINAL_SET_OPTION == glimmark::kOrdinalSetOption);
static_assert(RENDOVA_ORDINAL_GET_PAGE_COUNT == glimmark::kOrdinalGetPageCount);

static_assert(RENDOVA_OPTION_OUTPUT_FOLDER == glimmark::kOptionOutputFolder);
static_assert(RENDOVA_OPTION_IMAGE_TYPE == glimmark::kOptionImageType);
static_assert(RENDOVA_OPTION_BITS_PER_PIXEL == glimmark::kOptionBitsPerPixel);
static_assert(RENDOVA_OPTION_X_DPI == glimmark::kOptionXDpi);
static_assert(RENDOVA_OPTION_Y_DPI == glimmark::kOptionYDpi);
static_assert(RENDOVA_OPTION_QUALITY == glimmark::kOptionQuality);
static_assert(RENDOVA_OPTION_COMPRESSION == glimmark::kOptionCompression);
static_assert(RENDOVA_OPTION_MULTI_PAGE_TIFF == glimmark::kOptionMultiPageTiff);
static_assert(RENDOVA_OPTION_GREYSCALE == glimmark::kOptionGreyscale);

static_assert(RENDOVA_IMAGE_BMP == glimmark::kImageTypeBmp && RENDOVA_IMAGE_PCX == glimmark::kImageTypePcx);
static_assert(RENDOVA_IMAGE_EMF == glimmark::kImageTypeEmf && RENDOVA_IMAGE_TIFF == glimmark::kImageTypeTiff);

// The functions have the types the wizard casts the ordinals to (function
// pointers convert only where the signatures match, noexcept aside).
static_assert(std::is_convertible_v<decltype(&rendovaOpenDocument), glimmark::OpenDocumentFunction>);
static_assert(std::is_convertible_v<decltype(&rendovaCloseDocument), glimmark::CloseDocumentFunction>);
static_assert(std::is_convertible_v<decltype(&rendovaConvertPage), glimmark::ConvertPageFunction>);
static_assert(std::is_convertible_v<decltype(&rendovaSetOption), glimmark::SetOptionFunction>);
static_assert(std::is_convertible_v<decltype(&rendovaGetPageCount), glimmark::GetPageCountFunction>);

TEST(RendovaHeader, AgreesWithTheWizard) {
    SUCCEED();  // the static assertions above are the test
}

}  // namespace
