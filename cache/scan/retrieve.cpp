#include "cache/scan/retrieve.h"
#include "platform/base/paths.h"

#include "app/guard/guard.h"
#include "cache/browser/walk.h"
#include "platform/base/file_access.h"
#include "platform/base/files.h"
#include "platform/image/image_reader.h"
#include "platform/urlcache/urlcache.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <optional>
#include <set>
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

// What `path` is, its links followed where the tree follows them.
platform::EntryKind KindAt(const std::string& path, const platform::FileAccess& files) {
    int error = 0;
    return files.kindAt(path, true, error);
}

// "/a/b/" and "/a/b" name one folder; the paths built from it must not hold "//".
std::string WithoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && folder.back() == platform::kPathSeparator)
        folder.pop_back();
    return folder;
}

// What the folder `named` of the tree `files` holds (the host's files, or a disk image's file
// system).
browser::FolderContents Classify(const std::string& named, const platform::FileAccess& files) {
    const std::string folder = WithoutTrailingSeparators(named);
    browser::FolderContents c = browser::ClassifyFolder(folder, files);
    // Links below the folder never lead out of it.
    const browser::NamedRoot root(folder, files);
    // A WinINet cache folder itself (Content.IE5, or IE under INetCache) holds its index.
    const std::string index = platform::JoinPath(folder, "index.dat");
    if (KindAt(index, files) == platform::EntryKind::File && root.admits(index) &&
        std::find(c.urlCacheIndexes.begin(), c.urlCacheIndexes.end(), index) ==
            c.urlCacheIndexes.end())
        c.urlCacheIndexes.insert(c.urlCacheIndexes.begin(), index);
    // A Linux home may also hold a Wine prefix with its own Internet Explorer cache.
    const std::string wine = platform::JoinPath(folder, ".wine");
    if (KindAt(wine, files) == platform::EntryKind::Folder && root.admits(wine)) {
        const browser::FolderContents w = browser::ClassifyFolder(wine, files);
        AppendUnique(c.urlCacheIndexes, w.urlCacheIndexes);
        AppendUnique(c.browserCaches, w.browserCaches);
        AppendUnique(c.skippedFolders, w.skippedFolders);
    }
    return c;
}

// The folders of one file system in a disk image that are looked into as named folders:
// its root (a home or profile partition), the Windows and Mac profiles (Users, Documents and
// Settings for Windows XP) and the Linux homes (home/*, root, and the homes of a partition
// mounted as /home).
std::vector<std::string> VolumeFolders(const platform::FileAccess& files) {
    std::vector<std::string> folders = {"/"};
    for (const char* profiles : {"Users", "Documents and Settings", "root"})
        for (const auto& p : browser::ChildrenNoCase("/", profiles, files))
            folders.push_back(p.string());
    std::vector<std::filesystem::path> homes = browser::ChildrenNoCase("/home", "", files);
    for (const auto& top : browser::ChildrenNoCase("/", "", files))
        for (const char* marker : {".cache", ".mozilla", ".config", ".wine"})
            if (KindAt((top / marker).string(), files) == platform::EntryKind::Folder) {
                homes.push_back(top);
                break;
            }
    for (const auto& home : homes)
        if (KindAt(home.string(), files) == platform::EntryKind::Folder)
            folders.push_back(home.string());
    return folders;
}

// A named file that is a disk image: every file system in it looked into as a named folder,
// its caches read through the image. What could not be read is named by where it is in the
// image.
browser::FolderContents ClassifyImage(const platform::DiskImage& image,
                                      std::vector<ImageUrlCache>& urlCaches) {
    browser::FolderContents all;
    for (const std::string& problem : image.problems)
        all.skippedFolders.push_back({image.path, problem});
    for (const platform::ImageVolume& volume : image.volumes) {
        const auto shown = [&](const std::string& inside) {
            return platform::ImageFilePath(image.path, volume.partition, inside);
        };
        for (const std::string& folder : VolumeFolders(*volume.files)) {
            browser::FolderContents c = Classify(folder, *volume.files);
            for (browser::CacheFolder& cache : c.browserCaches) {
                cache.files = volume.files;
                cache.image = image.path;
                cache.partition = volume.partition;
            }
            for (browser::ScanProblem& p : c.skippedFolders)
                p.path = shown(p.path);
            for (const std::string& index : c.urlCacheIndexes) {
                int error = 0; // a deleted index is not read: nothing proves its bytes
                if (const auto f = volume.files->openFile(index, error); f && f->deleted())
                    continue;
                if (std::find(all.urlCacheIndexes.begin(), all.urlCacheIndexes.end(),
                              shown(index)) == all.urlCacheIndexes.end()) {
                    all.urlCacheIndexes.push_back(shown(index));
                    urlCaches.push_back({index, shown(FolderOf(index)), volume.files, image.path,
                                         volume.partition});
                }
            }
            AppendUnique(all.browserCaches, c.browserCaches);
            AppendUnique(all.skippedFolders, c.skippedFolders);
        }
    }
    return all;
}

// A named path: a folder, or a file that may be a disk image.
NamedFolder Look(const std::string& folder, bool withDeleted) {
    NamedFolder n{folder, {}, nullptr};
    try {
        struct stat st {};
        if (::stat(folder.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            platform::ImageReaderOptions options;
            options.withDeleted = withDeleted;
            const auto image = platform::OpenDiskImageApart(folder, n.notImage, options);
            n.image = image != nullptr;
            if (image) {
                n.contents = ClassifyImage(*image, n.imageUrlCaches);
                n.imageFailure = image->failure;
            }
        } else {
            n.contents = Classify(folder, platform::HostFiles());
        }
    } catch (...) {
        n.contents = {};
        n.failure = std::current_exception();
    }
    return n;
}

} // namespace

CacheSet CachesFor(const CacheSelection& selection) {
    CacheSet set;
    if (selection.folders.empty()) {
        set.browserCaches = browser::FindUserCaches(
            browser::Environment{Env("HOME"), Env("XDG_CACHE_HOME"), Env("XDG_CONFIG_HOME")},
            &set.skippedFolders);
        return set;
    }
    for (const auto& folder : selection.folders) {
        const browser::FolderContents c = Look(folder, false).contents;
        AppendUnique(set.urlCacheIndexes, c.urlCacheIndexes);
        AppendUnique(set.browserCaches, c.browserCaches);
        AppendUnique(set.skippedFolders, c.skippedFolders);
    }
    return set;
}

std::vector<NamedFolder> ClassifyNamedFolders(const std::vector<std::string>& folders,
                                              bool withDeleted) {
    std::vector<NamedFolder> named;
    named.reserve(folders.size());
    for (const auto& folder : folders)
        named.push_back(Look(folder, withDeleted));
    return named;
}

std::vector<FolderProblem> CheckFolders(const std::vector<std::string>& folders) {
    return CheckNamedFolders(ClassifyNamedFolders(folders));
}

namespace {

// What keeps a named folder from being read at all: it is missing, not a folder (nor a disk
// image), or cannot be listed. Nothing when it can be listed, or is an image that opened.
std::optional<std::string> AccessProblem(const NamedFolder& named) {
    if (named.image)
        return std::nullopt;
    const std::string& folder = named.folder;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR
                   ? std::string("does not exist")
                   : std::string("cannot be read (") + std::strerror(errno) + ")";
    if (S_ISREG(st.st_mode))
        return named.notImage.empty() ? "is not a folder, nor a disk image"
                                      : "is " + named.notImage;
    if (!S_ISDIR(st.st_mode))
        return "is not a folder";
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return std::string("cannot be read (") + std::strerror(errno) + ")";
    ::closedir(d);
    return std::nullopt;
}

} // namespace

std::vector<FolderProblem> CheckNamedFolders(const std::vector<NamedFolder>& folders) {
    std::vector<FolderProblem> problems;
    for (const NamedFolder& n : folders) {
        if (auto problem = AccessProblem(n)) {
            problems.push_back({n.folder, std::move(*problem)});
            continue;
        }
        if (n.failure)
            std::rethrow_exception(n.failure);
        if (n.contents.urlCacheIndexes.empty() && n.contents.browserCaches.empty())
            problems.push_back({n.folder, "holds no browser cache that Tamberlin can read (looked "
                                          "for a home folder, a copied Windows profile, a browser "
                                          "profile or a cache folder)"});
    }
    return problems;
}

namespace {

// What one cache gave: nothing at all (a format not read, a folder that could not be
// listed, every entry unreadable, every file holding entries unreadable, a scan that
// failed), or something.
bool NothingRead(const browser::ScanStats& stats, bool scanned) {
    const std::size_t lostEntries = stats.unreadable - stats.unreadableFiles;
    return !scanned || stats.unsupported ||
           (stats.entries == lostEntries && (stats.unreadable > 0 || !stats.problems.empty()));
}

} // namespace

RetrieveReport RetrieveAll(FoundFileList& list, const FileTypeSwitches& boxes,
                           const CacheSelection& selection,
                           const std::function<void(std::size_t entries)>& progress) {
    return RetrieveNamed(list, boxes, ClassifyNamedFolders(selection.folders), progress);
}

namespace {

// The rows of an index in a disk image name where they are in it, and their files are read
// through it (a file the index names that is not there is listed as on this machine).
void PlaceImageRows(FoundFileList& list, const ImageUrlCache& c) {
    const std::string& shownFolder = c.shownFolder;
    const std::string insideFolder = FolderOf(c.index);
    for (RowId row = 0; row < list.count(); ++row) {
        const std::string& path = list.row(row).path;
        if (path.size() <= shownFolder.size() || !path.starts_with(shownFolder) ||
            path[shownFolder.size()] != platform::kPathSeparator)
            continue;
        const std::string inside = insideFolder + path.substr(shownFolder.size());
        list.setImagePlace(row, c.image, c.partition, inside);
        int error = 0;
        const auto file = c.files->openFile(inside, error);
        if (!file || file->deleted()) // nothing proves a deleted file's bytes are its row's
            continue;
        auto body = std::make_shared<browser::BodyLocation>();
        browser::BodySegment whole;
        whole.file = inside;
        whole.length = file->size();
        whole.identity = file->identity();
        whole.files = c.files;
        body->segments.push_back(std::move(whole));
        body->decodedSize = file->size();
        list.setBody(row, std::move(body));
    }
}

// The WinINet cache, through the scan exactly as it always ran; named folders replace the
// Wine prefix as its source. The indexes that could be opened go into `read`.
void RetrieveWinInet(FoundFileList& list, const FileTypeSwitches& boxes,
                     const std::vector<NamedFolder>& named, RetrieveReport& report,
                     std::set<std::string>& read) {
    // Each index once, in the order the folders were named: those on this machine by their
    // path, those in an image read through it.
    platform::UrlCacheSources sources;
    std::vector<const ImageUrlCache*> inImages;
    std::set<std::string> taken;
    for (const auto& n : named) {
        for (const ImageUrlCache& c : n.imageUrlCaches)
            if (taken.insert(c.shownFolder + "/index.dat").second) {
                sources.push_back({c.index, c.shownFolder, c.files});
                inImages.push_back(&c);
            }
        if (!n.image)
            for (const auto& index : n.contents.urlCacheIndexes)
                if (taken.insert(index).second)
                    sources.push_back({index, FolderOf(index)});
    }
    getIECache(list, boxes, named.empty() ? nullptr : &sources);
    for (RowId row = 0; row < list.count(); ++row)
        list.setSource(row, kWinInetSource);
    for (const ImageUrlCache* c : inImages)
        PlaceImageRows(list, *c);
    for (const auto& source : sources) {
        const std::string shown =
            source.files ? source.containerFolder + "/index.dat" : source.indexFile;
        int error = 0;
        bool opened = false;
        if (source.files) {
            opened = source.files->openFile(source.indexFile, error) != nullptr;
        } else {
            errno = 0;
            opened = platform::CanOpenExistingFile(source.indexFile);
            error = errno;
        }
        if (opened)
            read.insert(shown);
        else
            report.problems.push_back(
                {shown, error ? std::string("cannot be read (") + std::strerror(error) + ")"
                              : std::string("cannot be read")});
    }
}

// The browser caches to read: the user's own, or those in the named folders. A folder the
// search could not read may hold a cache: it is named like any other place that could not
// be read.
std::vector<browser::CacheFolder> BrowserCachesOf(const std::vector<NamedFolder>& named,
                                                  RetrieveReport& report) {
    std::vector<browser::CacheFolder> caches;
    std::vector<browser::ScanProblem> skipped;
    if (named.empty())
        caches = browser::FindUserCaches(
            browser::Environment{Env("HOME"), Env("XDG_CACHE_HOME"), Env("XDG_CONFIG_HOME")},
            &skipped);
    for (const auto& n : named) {
        AppendUnique(skipped, n.contents.skippedFolders);
        AppendUnique(caches, n.contents.browserCaches);
    }
    report.skippedFolders = skipped.size();
    for (auto& s : skipped)
        report.problems.push_back({std::move(s.path), std::move(s.reason)});
    return caches;
}

// What one cache's scan could not read, for the report.
void ReportScanProblems(const browser::CacheFolder& folder, browser::ScanStats& stats,
                        RetrieveReport& report) {
    report.browserEntries += stats.entries;
    report.unreadable += stats.unreadable;
    if (stats.unsupported)
        report.problems.push_back({folder.shown(folder.path),
                                   "a cache Tamberlin recognises but cannot read (an unknown "
                                   "version or a damaged index)"});
    for (auto& p : stats.problems)
        report.problems.push_back({folder.shown(p.path), std::move(p.reason)});
    if (stats.problems.empty() && stats.unreadable > 0)
        report.problems.push_back(
            {folder.shown(folder.path), std::to_string(stats.unreadable) +
                                            (stats.unreadable == 1 ? " entry" : " entries") +
                                            " could not be read"});
}

// The found-file row of a browser cache's file: ticked, its body in the entry file.
FoundFile RowOf(browser::BrowserFile&& f, const browser::CacheFolder& folder) {
    FoundFile row;
    row.url = std::move(f.url);
    row.fileName = std::move(f.fileName);
    row.size = f.size;
    if (folder.image.empty()) {
        row.path = std::move(f.entryPath);
    } else {
        row.path = folder.shown(f.entryPath);
        row.image = folder.image;
        row.partition = folder.partition;
        row.insidePath = std::move(f.entryPath);
    }
    row.ticked = true;
    row.body = std::make_shared<const browser::BodyLocation>(std::move(f.body));
    row.source = std::move(f.source);
    row.cached = f.cached;
    row.lastUsed = f.lastUsed;
    row.deleted = f.deleted;
    return row;
}

// The named folders of which nothing could be read: not empty ones.
void ReportUnreadFolders(const std::vector<NamedFolder>& named,
                         const std::set<std::string>& readIndexes,
                         const std::set<std::string>& readCaches, RetrieveReport& report) {
    for (const auto& n : named) {
        const auto& c = n.contents;
        const bool someIndex =
            std::any_of(c.urlCacheIndexes.begin(), c.urlCacheIndexes.end(),
                        [&](const auto& x) { return readIndexes.count(x) != 0; });
        const bool someCache =
            std::any_of(c.browserCaches.begin(), c.browserCaches.end(),
                        [&](const auto& b) { return readCaches.count(b.shown(b.path)) != 0; });
        if (!someIndex && !someCache)
            report.unreadableFolders.push_back(
                {n.folder, AccessProblem(n).value_or("nothing in it could be read")});
    }
}

} // namespace

RetrieveReport RetrieveNamed(FoundFileList& list, const FileTypeSwitches& boxes,
                             const std::vector<NamedFolder>& named,
                             const std::function<void(std::size_t entries)>& progress) {
    RetrieveReport report;
    std::set<std::string> readIndexes;
    RetrieveWinInet(list, boxes, named, report, readIndexes);
    if (progress)
        progress(list.count());

    // Then the browser caches, located and read under their own tag. One failing cache is
    // told once and the rest still read.
    app::Guard g(kBrowserScanTag);
    std::vector<browser::CacheFolder> caches;
    g.step(100, [&] { caches = BrowserCachesOf(named, report); });
    // A named folder that could not be looked into is told here, each once.
    for (const auto& n : named)
        if (n.failure)
            g.step(100, [&] { std::rethrow_exception(n.failure); });
    std::set<std::string> readCaches;
    for (const auto& folder : caches) {
        browser::ScanStats stats;
        std::vector<browser::BrowserFile> files;
        bool scanned = false;
        g.step(102, [&] {
            files = browser::ScanCacheFolder(folder, &stats);
            scanned = true;
        });
        ReportScanProblems(folder, stats, report);
        if (!NothingRead(stats, scanned))
            readCaches.insert(folder.shown(folder.path));
        g.step(104, [&] {
            list.reserve(list.count() + files.size());
            for (auto& f : files) {
                if (!FileTypeFilter::admits(f.extension, boxes))
                    continue;
                list.ensureVisible(list.append(RowOf(std::move(f), folder)));
            }
        });
        if (progress)
            progress(list.count() + report.browserEntries);
    }
    // An image whose reader stopped (a library fault on a crafted image) lacks what it had
    // not read yet: said once, beside the entries that could not be read.
    for (const auto& n : named)
        if (n.imageFailure)
            if (const std::string why = n.imageFailure(); !why.empty())
                report.problems.push_back(
                    {n.folder, why + ", so what it had not read yet is missing from the list"});
    ReportUnreadFolders(named, readIndexes, readCaches, report);
    return report;
}

void ReportUnreadable(const RetrieveReport& report) {
    if (report.problems.empty() && report.unreadableFolders.empty())
        return;
    std::string text = "Some browser caches could not be read, so the list may lack files:\n";
    for (const auto& folder : report.unreadableFolders)
        text += "\n" + folder.folder + ": " + folder.reason;
    constexpr std::size_t kNamed = 5;
    for (std::size_t i = 0; i < report.problems.size() && i < kNamed; ++i)
        text += "\n" + report.problems[i].folder + ": " + report.problems[i].reason;
    if (report.problems.size() > kNamed)
        text += "\n... and " + std::to_string(report.problems.size() - kNamed) + " more.";
    // Told once, after the scan, under the tag the browser caches are read under.
    app::Guard g(kBrowserScanTag);
    g.step(106, [&] { app::errorReporter().report(text, g.tag(), g.line()); });
}

} // namespace cache
