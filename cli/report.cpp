#include "cli/report.h"

#include "cache/scan/file_types.h"
#include "platform/base/civil_time.h"
#include "platform/base/escape.h"
#include "platform/base/files.h"

#include <algorithm>
#include <map>

namespace cli {

using platform::CsvField;
using platform::HtmlText;
using platform::IsoUtc;
using platform::LinkableUrl;
using platform::PercentEncodeName;

namespace {

std::string TimeText(const std::optional<std::int64_t>& t) {
    return t ? IsoUtc(*t) : std::string();
}

std::string SizeText(const std::optional<std::uint64_t>& s) {
    return s ? std::to_string(*s) : std::string();
}

// Groups by source (a missing source last), oldest first within one, then by name.
std::vector<const SavedFile*> InReportOrder(const std::vector<SavedFile>& files) {
    std::vector<const SavedFile*> order;
    order.reserve(files.size());
    for (const auto& f : files)
        order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const SavedFile* a, const SavedFile* b) {
        const auto& x = a->row;
        const auto& y = b->row;
        if (x.source != y.source)
            return y.source.empty() || (!x.source.empty() && x.source < y.source);
        if (x.cached != y.cached)
            return x.cached && (!y.cached || *x.cached < *y.cached);
        return a->savedName < b->savedName;
    });
    return order;
}

constexpr const char* kStyle = R"(
body { font: 14px/1.4 sans-serif; margin: 1.5em; color: #222; background: #fafafa; }
h1 { font-size: 1.4em; } h2 { font-size: 1.15em; border-bottom: 1px solid #ccc; }
ul.gallery { list-style: none; padding: 0; display: grid; gap: 1em;
  grid-template-columns: repeat(auto-fill, minmax(260px, 1fr)); }
li.file { background: #fff; border: 1px solid #ddd; border-radius: 4px; padding: .6em; }
.thumb { display: flex; align-items: center; justify-content: center; height: 200px;
  background: #eee; }
.thumb img, .thumb video { max-width: 100%; max-height: 200px; object-fit: contain; }
dl { display: grid; grid-template-columns: auto 1fr; gap: .1em .6em; margin: .6em 0 0; }
dt { color: #666; } dd { margin: 0; overflow-wrap: anywhere; unicode-bidi: isolate; }
.hash { font-family: monospace; font-size: .85em; }
)";

void Field(std::string& out, const char* label, const std::string& html) {
    out += "<dt>";
    out += label;
    out += "</dt><dd>";
    out += html.empty() ? "<i>not known</i>" : html;
    out += "</dd>";
}

void Entry(std::string& out, const SavedFile& f) {
    const std::string src = "./" + PercentEncodeName(f.savedName);
    const std::string name = HtmlText(f.savedName);
    out += "<li class=\"file\">";
    if (cache::IsVideoName(f.savedName)) {
        out += "<div class=\"thumb\"><video controls preload=\"none\" src=\"" + src +
               "\"></video></div>";
    } else {
        out += "<a class=\"thumb\" href=\"" + src + "\"><img loading=\"lazy\" src=\"" + src +
               "\" alt=\"" + name + "\"></a>";
    }
    out += "<dl>";
    Field(out, "Name", "<a href=\"" + src + "\">" + name + "</a>");
    const std::string link = LinkableUrl(f.row.url);
    Field(out, "URL",
          link.empty() ? HtmlText(f.row.url)
                       : "<a href=\"" + HtmlText(link) + "\" rel=\"noopener noreferrer\">" +
                             HtmlText(f.row.url) + "</a>");
    Field(out, "Source", HtmlText(f.row.source));
    Field(out, "Cached", TimeText(f.row.cached));
    Field(out, "Last used", TimeText(f.row.lastUsed));
    Field(out, "Size", f.row.size ? SizeText(f.row.size) + " bytes" : std::string());
    Field(out, "Type", HtmlText(f.row.contentType()));
    Field(out, "SHA-256",
          f.sha256 ? "<span class=\"hash\">" + HtmlText(*f.sha256) + "</span>" : std::string());
    out += "</dl></li>\n";
}

} // namespace

std::string ReportHtml(const std::vector<SavedFile>& files) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      // No script at all, nothing from outside: only this page's own style and the
                      // saved files beside it.
                      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                      "script-src 'none'; object-src 'none'; base-uri 'none'; form-action 'none'; "
                      "img-src 'self' file:; media-src 'self' file:; style-src 'unsafe-inline'\">\n"
                      "<meta name=\"referrer\" content=\"no-referrer\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    const std::string count =
        std::to_string(files.size()) + (files.size() == 1 ? " file" : " files") + " saved";
    out += "<title>Tamberlin: " + count + "</title>\n<style>" + kStyle + "</style>\n</head>\n";
    out += "<body>\n<h1>" + count +
           "</h1>\n<p>Grouped by the cache they came from, oldest "
           "first. Times are UTC.</p>\n";
    const auto order = InReportOrder(files);
    for (std::size_t i = 0; i < order.size();) {
        const std::string& source = order[i]->row.source;
        std::size_t end = i;
        while (end < order.size() && order[end]->row.source == source)
            ++end;
        out += "<section>\n<h2>" +
               (source.empty() ? std::string("Source not known") : HtmlText(source)) + " (" +
               std::to_string(end - i) + ")</h2>\n<ul class=\"gallery\">\n";
        for (; i < end; ++i)
            Entry(out, *order[i]);
        out += "</ul>\n</section>\n";
    }
    out += "</body>\n</html>\n";
    return out;
}

std::string ReportCsv(const std::vector<SavedFile>& files) {
    std::string out = "file,url,source,cached,last_used,size,content_type,sha256\r\n";
    for (const SavedFile* f : InReportOrder(files)) {
        const cache::FoundFile& r = f->row;
        for (const std::string& field :
             {CsvField(f->savedName), CsvField(r.url), CsvField(r.source),
              CsvField(TimeText(r.cached)), CsvField(TimeText(r.lastUsed)),
              CsvField(SizeText(r.size)), CsvField(r.contentType()),
              CsvField(f->sha256.value_or(""))}) {
            out += field;
            out += ',';
        }
        out.back() = '\r';
        out += '\n';
    }
    return out;
}

bool WriteReport(const std::string& folder, const std::vector<SavedFile>& files,
                 std::string& error) {
    for (const auto& [name, text] :
         {std::pair{kReportPage, ReportHtml(files)}, std::pair{kReportTable, ReportCsv(files)}}) {
        std::size_t at = 0;
        const platform::CopyOutcome outcome = platform::WriteStreamReplacing(
            [&, &t = text](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
                const std::size_t n = std::min(capacity, t.size() - at);
                std::copy_n(t.data() + at, n, buffer);
                at += n;
                return static_cast<std::ptrdiff_t>(n);
            },
            folder + name);
        if (outcome.status != platform::CopyStatus::Copied) {
            error = folder + name + ": " + outcome.error;
            return false;
        }
    }
    return true;
}

} // namespace cli
