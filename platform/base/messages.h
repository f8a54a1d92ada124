// Message boxes, the folder picker and the message pump, as seams: the program installs
// the real dialogs at start-up, tests install answers.
#pragma once

#include <functional>
#include <string>

namespace platform {

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // A plain information box: one OK button, no icon; returns when dismissed.
    virtual void information(const std::string& text, const std::string& title) = 0;
    // A modal folder picker; the chosen absolute folder path, or "" when cancelled.
    virtual std::string pickFolder(const std::string& prompt) = 0;
};

Dialogs& dialogs();
void setDialogs(Dialogs* d);

// Lets pending window messages be processed (a no-op until the program installs one).
void DoEvents();
void setDoEvents(std::function<void()> pump);

} // namespace platform
