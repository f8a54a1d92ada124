#include "cache/scan/commands.h"
#include "app/guard/guard.h"

namespace cache {
namespace {

// Ticks or unticks every row, first to last in display order. The row counter is as wide
// as the list can be long, so no list is too big for it.
void setEveryTick(FoundFileList& list, const char* tag, bool ticked) {
    app::Guard g(tag);
    std::size_t n = 0;
    g.step(100, [&] { n = list.count(); });
    for (std::size_t i = 1; i <= n; ++i) {
        g.step(102, [&] { list.setTick(list.rowAt(i), ticked); });
        // Loop close; when it fails the loop ends, as a failed loop close does.
        bool next = false;
        g.step(104, [&] { next = true; });
        if (!next)
            break;
    }
}

} // namespace

void PushButton1_Click(FoundFileList& list, const FileTypeSwitches& boxes, PointerTarget& window,
                       const CacheSelection& selection) {
    app::Guard g("in Orrery2021/08/31.Form1.PushButton1_Click ");
    g.step(100, [&] { window.setMousePointer(MousePointerCode::Hourglass); });
    // The WinINet scan, then the browser caches, each reporting its own failures and what
    // it could not read.
    g.step(102, [&] { ReportUnreadable(RetrieveAll(list, boxes, selection)); });
    g.step(104, [&] { window.setMousePointer(MousePointerCode::Default); });
}

void PushButton5_Click(FoundFileList& list) {
    setEveryTick(list, "in Orrery2021/08/31.Form1.PushButton5_Click ", true);
}

void PushButton6_Click(FoundFileList& list) {
    setEveryTick(list, "in Orrery2021/08/31.Form1.PushButton6_Click ", false);
}

} // namespace cache
