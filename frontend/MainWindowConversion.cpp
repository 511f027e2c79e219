// The conversion run: starting it on the UI thread, the worker's loop over
// the files, and handing the window back at the end.
//
// The worker never touches a control. It works from a copy of the list's
// paths and of the options taken when the run starts, and every change it
// makes to the window is queued to the UI thread with CallAfter, in order.

#include <wx/listctrl.h>
#include <wx/stattext.h>

#include <cstdio>

#include <unistd.h>

#include "frontend/IconButton.h"
#include "frontend/MainWindow.h"
#include "frontend/OptionsPage.h"
#include "frontend/ProgressPage.h"
#include "frontend/TextFormats.h"
#include "frontend/TextList.h"
#include "frontend/UserPrompts.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "platform/Paths.h"

namespace glimmark {

namespace {

bool folderWritable(const std::string& folder) {
    return platform::directoryExists(folder) && access(folder.c_str(), W_OK) == 0;
}

}  // namespace

void MainWindow::onConvert() {
    if (m_busy || !m_optionsPage->validateAndSave(m_options))
        return;
    m_fileCount = m_fileList->GetItemCount();
    if (m_fileCount == 0) {
        UserPrompts::message(this, "Can't convert, please add files first!", "Error",
                             UserPrompts::Icon::kError);
        return;
    }
    std::vector<std::string> paths;
    for (int row = 0; row < m_fileCount; ++row)
        paths.push_back(m_fileList->text(row, 0).utf8_string());

    m_step = 3;
    showStep(3);
    m_busy = true;
    m_stopRequested = false;
    if (m_worker.joinable())
        m_worker.join();
    m_worker = std::thread(&MainWindow::conversionThread, this, std::move(paths), m_options);
}

void MainWindow::onStop() {
    m_stopRequested = true;
}

void MainWindow::conversionThread(std::vector<std::string> paths, ConversionOptions options) {
    convertAll(paths, options);
    CallAfter([this] { showCompleted(); });
}

void MainWindow::convertAll(const std::vector<std::string>& paths, const ConversionOptions& options) {
    const int fileCount = static_cast<int>(paths.size());
    ProgressPage* page = m_progressPage;
    auto finishFile = [this, page, fileCount](std::string state, std::string reason) {
        int done = ++m_doneCount;
        CallAfter([page, state, reason, done, fileCount] {
            page->setLastState(state, reason);
            page->setOverallProgress(done * 100 / fileCount);
        });
    };

    int next = 0;
    for (; next < fileCount && !m_stopRequested; ++next) {
        CallAfter([page] { page->setPageProgress(std::string(), 0); });
        const std::string& path = paths[next];
        platform::PathParts parts = platform::splitPath(path);

        // The password is tried as the owner password first, then as the
        // user password. A path too long for the program's path fields is
        // not opened at all rather than opened cut short.
        int handle = kStatusInputMissing;
        if (path.size() <= kMaxPathLength) {
            handle = m_openDocument(path.c_str(), options.password.c_str(), nullptr);
            if (handle == kStatusPasswordNeeded)
                handle = m_openDocument(path.c_str(), nullptr, options.password.c_str());
        }
        std::string time = formatLogTime(platform::currentLocalTime());
        if (handle < 1) {
            CallAfter([page, time, path] { page->addLogRow(time, "Conveting...", path, std::string()); });
            finishFile("Failed", openFailureReason(handle, !options.password.empty()));
            continue;
        }

        std::string destination;
        if (options.saveMode == 1) {
            m_setOption(handle, kOptionOutputFolder, options.savePath.c_str(), 0, 0);
            destination = options.savePath;
        } else {
            destination = parts.directory;
        }
        CallAfter(
            [page, time, path, destination] { page->addLogRow(time, "Conveting...", path, destination); });

        int pageCount = m_getPageCount(handle);
        sendOptions(handle, options);
        PagesDone pages = convertPages(handle, pageCount, parts.name, destination, options);
        const int result = pages.result;
        const int lastPage = pages.lastPage;
        m_closeDocument(handle);

        if (lastPage < pageCount) {
            // Stopped part way: the row says so rather than passing off the
            // pages written as the whole document.
            std::string reason =
                "stopped after page " + std::to_string(lastPage) + " of " + std::to_string(pageCount);
            CallAfter([page, reason] { page->setLastState(kStateStopped, reason); });
            ++next;
            break;
        }
        // Only the last page's result decides whether the file failed; a
        // file whose pages lost content does not pass for a whole one.
        std::string lost =
            pages.lostPages.empty() ? std::string() : lostContentReason(pages.lostPages, pageCount);
        if (result <= 0) {
            bool writable = folderWritable(destination);
            std::string reason =
                pageFailureReason(result, lastPage, writable, options.imageType, options.xDpi, options.yDpi);
            finishFile("Failed", lost.empty() ? reason : reason + "; " + lost);
        } else if (!lost.empty()) {
            finishFile(kStateIncomplete, lost);
        } else {
            finishFile("Succeed", std::string());
        }
    }

    // The files a stop left out are listed, so that none seems converted.
    for (int rest = next; rest < fileCount; ++rest) {
        std::string time = formatLogTime(platform::currentLocalTime());
        const std::string& path = paths[rest];
        CallAfter([page, time, path] {
            page->addLogRow(time, kStateNotConverted, path, std::string());
            page->setLastState(kStateNotConverted, "the conversion was stopped before this file", false);
        });
    }
}

MainWindow::PagesDone MainWindow::convertPages(int handle, int pageCount, const std::string& name,
                                               const std::string& destination,
                                               const ConversionOptions& options) {
    const std::string extension = displayExtension(options.imageType);
    ProgressPage* page = m_progressPage;
    PagesDone done;
    const bool oneTiff = options.imageType == kImageTypeTiff && options.tifMode == 1;
    for (int j = 1; j <= pageCount && !m_stopRequested; ++j) {
        std::string shown;
        if (oneTiff) {
            // One multi-page file per document, which the library names.
            done.result = m_convertPage(handle, j, nullptr);
            shown = destination + name + ".tif";
        } else {
            char number[16];
            std::snprintf(number, sizeof number, "%04d", j);
            std::string pageName = name + number;
            done.result = m_convertPage(handle, j, pageName.c_str());
            shown = destination + pageName + extension;
        }
        done.lastPage = j;
        if (done.result == kStatusPageIncomplete)
            done.lostPages.push_back(j);
        int percent = j * 100 / pageCount;
        CallAfter([page, shown, percent] { page->setPageProgress(shown, percent); });
    }
    return done;
}

void MainWindow::sendOptions(int handle, const ConversionOptions& options) {
    m_setOption(handle, kOptionXDpi, nullptr, options.xDpi, 0);
    m_setOption(handle, kOptionYDpi, nullptr, options.yDpi, 0);
    m_setOption(handle, kOptionCompression, nullptr, options.tiffCompression, 0);
    m_setOption(handle, kOptionMultiPageTiff, nullptr, options.tifMode, 0);

    // The colour code becomes bits per pixel and, for the grey codes, the
    // greyscale flag (a new job starts in colour, so it is never sent as 0).
    // Metafile types set no code of their own; they are sent the library's
    // default depth, which metafile output does not use.
    int bits = 24;
    switch (options.colourCode) {
        case 1:
            bits = 1;
            break;
        case 3:
            m_setOption(handle, kOptionGreyscale, nullptr, 1, 0);
            bits = 4;
            break;
        case 4:
            bits = 4;
            break;
        case 7:
            m_setOption(handle, kOptionGreyscale, nullptr, 1, 0);
            bits = 8;
            break;
        case 8:
            bits = 8;
            break;
        default:
            break;
    }
    m_setOption(handle, kOptionBitsPerPixel, nullptr, bits, 0);
    m_setOption(handle, kOptionImageType, nullptr, options.imageType, 0);
    if (options.imageType == kImageTypeJpeg)
        m_setOption(handle, kOptionQuality, nullptr, options.jpegQuality, 0);
    else if (options.imageType == kImageTypeTiff)
        m_setOption(handle, kOptionQuality, nullptr, options.tiffQuality, 0);
}

void MainWindow::showCompleted() {
    if (m_worker.joinable())
        m_worker.join();
    m_stop->Hide();
    m_finish->Show();
    Layout();
    // A stopped run keeps its bars where it stopped, and a run whose last
    // file failed keeps saying why.
    if (!m_stopRequested) {
        m_progressPage->setOverallProgress(100);
        bool lastFailed = !m_progressPage->reason(m_progressPage->resultList()->GetItemCount() - 1).empty();
        m_progressPage->setPageProgress(lastFailed ? m_progressPage->status() : std::string(), 100);
    }
    m_stepTitle->SetLabel("Conversion completed");
    m_busy = false;
}

void MainWindow::onFinish() {
    if (m_busy)
        return;
    if (!m_progressPage->validateLog())
        return;
    m_progressPage->writeLogFile();
    m_progressPage->clearRows();
    m_progressPage->setOverallProgress(0);
    m_doneCount = 0;
    m_step = 1;
    showStep(1);
}

}  // namespace glimmark
