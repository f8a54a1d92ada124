#include "cache/scan/retrieve.h"
#include "platform/base/paths.h"

#include "app/guard/guard.h"
#include "platform/urlcache/urlcache.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace cache {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string FolderOf(const std::string& file) {
    const auto slash = file.rfind(platform::kPathSeparator);
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

template <class T> void AppendUnique(std::vector<T>& to, const std::vector<T>& from) {
    for (const auto& v : from)
        if (std::find(to.begin(), to.end(), v) == to.end())
            to.push_back(v);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "/a/b/" and "/a/b" name one folder; the paths built from it must not hold "//".
std::string WithoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && folder.back() == platform::kPathSeparator)
        folder.pop_back();
    return folder;
}

browser::FolderContents Classify(const std::string& named) {
    const std::string folder = WithoutTrailingSeparators(named);
    browser::FolderContents c = browser::ClassifyFolder(folder);
    // A WinINet cache folder itself (Content.IE5, or IE under INetCache) holds its index.
    const std::string index = platform::JoinPath(folder, "index.dat");
    if (IsRegularFile(index) && std::find(c.urlCacheIndexes.begin(), c.urlCacheIndexes.end(),
                                          index) == c.urlCacheIndexes.end())
        c.urlCacheIndexes.insert(c.urlCacheIndexes.begin(), index);
    // A Linux home may also hold a Wine prefix with its own Internet Explorer cache.
    struct stat st {};
    const std::string wine = platform::JoinPath(folder, ".wine");
    if (::stat(wine.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        const browser::FolderContents w = browser::ClassifyFolder(wine);
        AppendUnique(c.urlCacheIndexes, w.urlCacheIndexes);
        AppendUnique(c.browserCaches, w.browserCaches);
    }
    return c;
}

} // namespace

CacheSet CachesFor(const CacheSelection& selection) {
    CacheSet set;
    if (selection.folders.empty()) {
        set.browserCaches = browser::FindUserCaches(
            browser::Environment{Env("HOME"), Env("XDG_CACHE_HOME"), Env("XDG_CONFIG_HOME")});
        return set;
    }
    for (const auto& folder : selection.folders) {
        const browser::FolderContents c = Classify(folder);
        AppendUnique(set.urlCacheIndexes, c.urlCacheIndexes);
        AppendUnique(set.browserCaches, c.browserCaches);
    }
    return set;
}

std::vector<FolderProblem> CheckFolders(const std::vector<std::string>& folders) {
    std::vector<FolderProblem> problems;
    for (const auto& folder : folders) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) {
            problems.push_back(
                {folder, std::string("cannot be read (") + std::strerror(errno) + ")"});
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            problems.push_back({folder, "is not a folder"});
            continue;
        }
        DIR* d = ::opendir(folder.c_str());
        if (!d) {
            problems.push_back(
                {folder, std::string("cannot be read (") + std::strerror(errno) + ")"});
            continue;
        }
        ::closedir(d);
        const browser::FolderContents c = Classify(folder);
        // A Chromium cache copied from Windows (blockfile: index, data_0, data_1...) is
        // found but cannot be read: a folder holding nothing else holds nothing for us.
        const bool onlyUnreadable =
            c.urlCacheIndexes.empty() && !c.browserCaches.empty() &&
            std::all_of(c.browserCaches.begin(), c.browserCaches.end(), [](const auto& cache) {
                return cache.kind == browser::CacheKind::Chromium &&
                       IsRegularFile(platform::JoinPath(cache.path, "data_0")) &&
                       IsRegularFile(platform::JoinPath(cache.path, "data_1"));
            });
        if (onlyUnreadable) {
            problems.push_back({folder, "holds only a Chromium cache copied from Windows "
                                        "(blockfile format), which Tamberlin does not read"});
            continue;
        }
        if (c.urlCacheIndexes.empty() && c.browserCaches.empty())
            problems.push_back({folder, "holds no browser cache that Tamberlin can read (looked "
                                        "for a home folder, a copied Windows profile, a browser "
                                        "profile or a cache folder)"});
    }
    return problems;
}

RetrieveReport RetrieveAll(FoundFileList& list, const FileTypeSwitches& boxes,
                           const CacheSelection& selection,
                           const std::function<void(std::size_t entries)>& progress) {
    RetrieveReport report;
    const CacheSet caches = CachesFor(selection);

    // The WinINet cache first, through the scan exactly as it always ran. Named folders
    // replace the Wine prefix as its source.
    if (!selection.folders.empty()) {
        std::vector<platform::UrlCacheSource> sources;
        for (const auto& index : caches.urlCacheIndexes)
            sources.push_back({index, FolderOf(index)});
        platform::SetUrlCacheSources(std::move(sources));
    }
    struct RestoreSources {
        bool set;
        ~RestoreSources() {
            if (set)
                platform::SetUrlCacheSources(std::nullopt);
        }
    } restore{!selection.folders.empty()};
    getIECache(list, boxes);
    if (progress)
        progress(list.count());

    // Then the browser caches. One failing cache is told once and the rest still read.
    app::Guard g(kBrowserScanTag);
    for (const auto& folder : caches.browserCaches) {
        browser::ScanStats stats;
        std::vector<browser::BrowserFile> files;
        g.step(100, [&] { files = browser::ScanCacheFolder(folder, &stats); });
        report.browserEntries += stats.entries;
        report.unreadable += stats.unreadable;
        if (stats.unsupported)
            report.problems.push_back({folder.path,
                                       "a cache format Tamberlin does not read (a Chromium cache "
                                       "copied from Windows uses another format)"});
        g.step(102, [&] {
            for (auto& f : files) {
                if (!FileTypeFilter::admits(f.extension, boxes))
                    continue;
                const RowId row = list.append(f.url);
                list.setTick(row, true);
                list.ensureVisible(row);
                list.setSubItem(row, 2, std::to_string(f.size));
                list.setSubItem(row, 3, f.entryPath);
                list.setSubItem(row, 1, f.fileName);
                list.setBody(row, std::make_shared<const browser::BodyLocation>(std::move(f.body)));
                if (f.fetched != 0)
                    list.setTimes(row, f.fetched, std::nullopt);
            }
        });
        if (progress)
            progress(list.count() + report.browserEntries);
    }
    return report;
}

} // namespace cache
