// The "..." button: choosing the destination folder.
#pragma once

#include <string>

namespace save {

// The folder to preselect when the dialog opens, followed by a NUL.
extern std::string InitialBrowseFolder;

// Opens the modal folder picker; the chosen folder's path, or "" when cancelled.
std::string BrowseForFolder(long ownerWindow, const std::string& title, const std::string& initial);
// Called by the dialog while it is open; always returns 0 and never lets a failure out.
int BrowseCallback(long dialog, unsigned message, long parameter, long data);

class DestinationBox {
  public:
    virtual ~DestinationBox() = default;
    virtual void setText(const std::string& text) = 0; // Text3; storing it is the box's job
};

void PushButton8_Click(DestinationBox& text3, long ownerWindow = 0);

} // namespace save
