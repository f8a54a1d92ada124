// "Start Saving Files": copies the ticked rows' cached files into the destination folder.
#pragma once

#include "cache/scan/found_file_list.h"

#include <cstddef>
#include <string>

namespace save {

inline constexpr const char* kSaveTag = "in Orrery2021/08/31.Form1.PushButton3_Click ";

// What the command needs of the main window.
class SaveWindow {
  public:
    virtual ~SaveWindow() = default;
    virtual std::string destinationText() const = 0;                   // Text3, read afresh
    virtual void setProgress(std::size_t done, std::size_t total) = 0; // ProgressBar1
    virtual bool closing() const { return false; } // the user closed the window mid-walk
    virtual std::string messageTitle() const = 0;  // its message boxes' title
};

// Saves each ticked row with SaveFoundFile (save/save_row.h) and tells how it went.
void PushButton3_Click(cache::FoundFileList& list, SaveWindow& window);

} // namespace save
