#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/LocalTime.h"

namespace glimmark {

// Texts the wizard shows and writes, kept apart from the windows so that
// their exact form can be checked. Any thread; nothing throws except
// std::bad_alloc.

// Paths held in the program's fixed path fields may have at most this many
// characters: a longer one is refused, never cut short and used.
constexpr size_t kMaxPathLength = 259;

// A file size as "%d KB" of the size in kilobytes, rounded down, except that a
// file of 1 to 1023 bytes counts as 1 KB so that only empty files show 0.
std::string formatSizeKB(uint64_t size);

// A file time for the properties panel: "%02d-%02d-%d %d:%02d" of month, day,
// year, hour and minute in local time.
std::string formatFileTime(std::time_t moment);

// The properties panel's attribute text for the platform's attribute bits:
// the combinations of read-only, hidden and archive as "R", "H", "A", "RH",
// "RA", "HA", "RHA"; anything else "---".
std::string attributeText(uint32_t attributes);

// A conversion log time stamp: "[%02d-%02d-%d %d:%02d:%02d]" of day, month,
// year, hour, minute and second.
std::string formatLogTime(const platform::LocalTime& time);

// One record of the conversion log file; a reason, when there is one, adds a
// "[Reason:]" line after the state.
std::string formatLogRecord(const std::string& time, const std::string& state, const std::string& input,
                            const std::string& destination, const std::string& reason = std::string());

// States of a result row besides the library's "Succeed" and "Failed".
constexpr const char* kStateStopped = "Stopped";
constexpr const char* kStateNotConverted = "Not converted";
// Every page written, but the document lost the content of some.
constexpr const char* kStateIncomplete = "Incomplete";

// Why a document could not be opened, from openDocument's status, in words
// that say what to do about it.
std::string openFailureReason(int status, bool passwordGiven);
// Why a page could not be written, from convertPage's status: the library
// answers one code for every write failure, so the caller says whether the
// output folder could be written. The resolutions name what made a page
// too large.
std::string pageFailureReason(int status, int page, bool folderWritable, int imageType, int xDpi, int yDpi);
// The pages whose content the document lost (ascending, from 1), of
// pageCount: "page 3: ..." or "pages 3, 5-9 and 12 of 40: ...". Long lists
// name their first runs and count the rest.
std::string lostContentReason(const std::vector<int>& pages, int pageCount);

// Why a file was not added to the list, from the library's answer to
// opening it; hasPdfHeader tells a damaged document from a file that is no
// PDF document at all.
std::string notAddedReason(int status, bool hasPdfHeader);
// The one message after an add that names each file left out and why:
// "name: reason" lines under a heading, the first kMaxNamedFiles of them
// and a count of the rest.
constexpr size_t kMaxNamedFiles = 15;
std::string notAddedMessage(const std::vector<std::pair<std::string, std::string>>& files);

// Dots per inch for an index of the resolution lists; an index outside the
// list is taken as the value itself.
int dpiFromIndex(int index);
// The list entry for a resolution index read from the settings file: the
// index itself, or the last entry for the "1200" of older files.
int dpiChoiceIndex(int storedIndex);

// The resolution lists' entries, in index order.
constexpr int kDpiChoiceCount = 8;
extern const char* const kDpiChoices[kDpiChoiceCount];

// The extension the status line shows for a library image type (".bmp" for
// any type outside 1 .. 8).
std::string displayExtension(int imageType);

// The folder path the user typed, made to end in '/', when it is a valid
// folder for output or the log: absolute, and not longer than kMaxPathLength
// once the '/' is added. Empty when it is not valid (an empty text is not).
std::string validFolderPath(const std::string& text);

// The default for every folder setting: the user's home folder, ending in '/'.
std::string defaultFolder();

// Where a chooser opens for a path the user typed or last chose: the nearest
// folder of it that exists (the path itself when it is a folder), ending in
// '/'; the home folder when none does. A chooser told of a missing folder
// opens somewhere unrelated instead.
std::string chooserStartFolder(const std::string& path);

}  // namespace glimmark
