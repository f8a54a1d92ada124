#include "cli/row_selection.h"

#include "platform/base/civil_time.h"
#include "platform/base/collation.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace cli {

using platform::CivilFromSeconds;
using platform::CivilTime;
using platform::DaysInMonth;
using platform::SecondsFromLocal;
using platform::SecondsFromUtc;

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads exactly n digits at text[at], moving at past them.
std::optional<int> Digits(std::string_view text, std::size_t& at, std::size_t n) {
    if (at + n > text.size())
        return std::nullopt;
    int v = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (!IsDigit(text[at + k]))
            return std::nullopt;
        v = v * 10 + (text[at + k] - '0');
    }
    at += n;
    return v;
}

bool Eat(std::string_view text, std::size_t& at, char c) {
    if (at < text.size() && text[at] == c) {
        ++at;
        return true;
    }
    return false;
}

// The value of an option given as "--opt VALUE" or "--opt=VALUE".
bool OptionValue(const std::vector<std::string>& arguments, std::size_t& i, std::string_view name,
                 std::string& value, bool& present, std::string& error) {
    const std::string& a = arguments[i];
    if (a == name) {
        if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else if (error.empty()) {
            error = "'" + a + "' needs a value";
            return true;
        }
        present = true;
        return true;
    }
    if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=') {
        value = a.substr(name.size() + 1);
        present = true;
        return true;
    }
    return false;
}

} // namespace

namespace {

std::string ExpectedInstant() {
    return "expected an ISO 8601 date or date-time such as 2026-01-31, 2026-01-31T18:30 or "
           "2026-01-31T18:30:00+01:00";
}

// The date at text[at], yyyy-mm-dd, a day the calendar has.
std::optional<CivilTime> ParseDate(std::string_view text, std::size_t& at, std::string& why) {
    const auto year = Digits(text, at, 4);
    if (!year || !Eat(text, at, '-')) {
        why = ExpectedInstant();
        return std::nullopt;
    }
    const auto month = Digits(text, at, 2);
    const bool dash = month && Eat(text, at, '-');
    const auto day = dash ? Digits(text, at, 2) : std::nullopt;
    if (!day) {
        why = ExpectedInstant();
        return std::nullopt;
    }
    CivilTime t;
    t.year = *year;
    t.month = *month;
    t.day = *day;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month)) {
        why = "there is no such date";
        return std::nullopt;
    }
    return t;
}

// A bare date is that day on the local clock, from its first to its last second.
std::optional<std::int64_t> LocalDay(const CivilTime& t, bool endOfDay, std::string& why) {
    if (endOfDay) {
        CivilTime next = CivilFromSeconds(SecondsFromUtc(t) + 86400);
        next.hour = next.minute = next.second = 0;
        const auto s = SecondsFromLocal(next);
        if (s)
            return *s - 1;
    } else if (const auto s = SecondsFromLocal(t)) {
        return s;
    }
    why = "the local time zone cannot place that date";
    return std::nullopt;
}

// The time of day at text[at] into t: hh:mm or hh:mm:ss. A fraction of a second is allowed
// and dropped: cache times are whole seconds.
bool ParseTimeOfDay(std::string_view text, std::size_t& at, CivilTime& t, std::string& why) {
    const auto hour = Digits(text, at, 2);
    const bool colon = hour && Eat(text, at, ':');
    const auto minute = colon ? Digits(text, at, 2) : std::nullopt;
    if (!minute) {
        why = ExpectedInstant();
        return false;
    }
    t.hour = *hour;
    t.minute = *minute;
    if (Eat(text, at, ':')) {
        const auto second = Digits(text, at, 2);
        if (!second) {
            why = ExpectedInstant();
            return false;
        }
        t.second = *second;
        if (Eat(text, at, '.') || Eat(text, at, ',')) {
            const std::size_t start = at;
            while (at < text.size() && IsDigit(text[at]))
                ++at;
            if (at == start) {
                why = "expected digits after the decimal sign";
                return false;
            }
        }
    }
    if (t.hour > 23 || t.minute > 59 || t.second > 59) {
        why = "there is no such time of day";
        return false;
    }
    return true;
}

// The instant of t by what follows it at text[at]: nothing for the local clock, Z for UTC,
// or an offset from UTC (+hh:mm, +hhmm or +hh).
std::optional<std::int64_t> InZone(std::string_view text, std::size_t at, const CivilTime& t,
                                   std::string& why) {
    if (at == text.size()) {
        if (const auto s = SecondsFromLocal(t))
            return s;
        why = "the local time zone cannot place that time";
        return std::nullopt;
    }
    if ((Eat(text, at, 'Z') || Eat(text, at, 'z')) && at == text.size())
        return SecondsFromUtc(t);
    const bool plus = at < text.size() && text[at] == '+';
    if (plus || (at < text.size() && text[at] == '-')) {
        ++at;
        const auto oh = Digits(text, at, 2);
        std::optional<int> om = 0;
        if (oh && at < text.size()) {
            Eat(text, at, ':'); // +hh:mm or +hhmm
            om = Digits(text, at, 2);
        }
        if (oh && om && at == text.size()) {
            if (*oh > 23 || *om > 59) {
                why = "there is no such UTC offset";
                return std::nullopt;
            }
            const int offset = (*oh * 60 + *om) * 60;
            return SecondsFromUtc(t) - (plus ? offset : -offset);
        }
    }
    why = "expected Z, +hh:mm or -hh:mm after the time, or nothing for local time";
    return std::nullopt;
}

} // namespace

std::optional<std::int64_t> ParseInstant(std::string_view text, bool endOfDay, std::string& why) {
    std::size_t at = 0;
    std::optional<CivilTime> t = ParseDate(text, at, why);
    if (!t)
        return std::nullopt;
    if (at == text.size())
        return LocalDay(*t, endOfDay, why);
    if (!(Eat(text, at, 'T') || Eat(text, at, 't') || Eat(text, at, ' '))) {
        why = ExpectedInstant();
        return std::nullopt;
    }
    if (!ParseTimeOfDay(text, at, *t, why))
        return std::nullopt;
    return InZone(text, at, *t, why);
}

std::optional<std::uint64_t> ParseByteCount(std::string_view text, std::string& why) {
    std::size_t at = 0;
    std::uint64_t n = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    while (at < text.size() && IsDigit(text[at])) {
        const auto digit = static_cast<std::uint64_t>(text[at] - '0');
        if (n > (kMax - digit) / 10) {
            why = "the number is too large";
            return std::nullopt;
        }
        n = n * 10 + digit;
        ++at;
    }
    if (at == 0) {
        why = "expected a number of bytes, with k (1024) or M (1048576) after it if you like";
        return std::nullopt;
    }
    std::uint64_t unit = 1;
    if (at + 1 == text.size()) {
        const char s = Lower(text[at]);
        unit = s == 'k' ? 1024 : s == 'm' ? 1048576 : 0;
        if (unit == 0) {
            why = "unknown unit '" + std::string(text.substr(at)) + "' (use k or M)";
            return std::nullopt;
        }
    } else if (at != text.size()) {
        why = "unknown unit '" + std::string(text.substr(at)) + "' (use k or M)";
        return std::nullopt;
    }
    if (n > kMax / unit) {
        why = "the number is too large";
        return std::nullopt;
    }
    return n * unit;
}

std::optional<std::string> ParseHostName(std::string_view text, std::string& why) {
    std::string host;
    for (const char c : text)
        host += Lower(c);
    if (text.find("://") != std::string_view::npos || text.find('/') != std::string_view::npos) {
        why = "give a host name such as example.org, not a URL";
        return std::nullopt;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        const bool ok = std::all_of(host.begin(), host.end(), [](char c) {
            return IsDigit(c) || (c >= 'a' && c <= 'f') || c == ':' || c == '.';
        });
        if (!ok || host.find(':') == std::string::npos) {
            why = "not an IPv6 address";
            return std::nullopt;
        }
        return host;
    }
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host.empty()) {
        why = "the host name is empty";
        return std::nullopt;
    }
    for (const char c : host) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            why = "write an international name in its xn-- form, as URLs carry it";
            return std::nullopt;
        }
        if (!(IsDigit(c) || (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.')) {
            why = "a host name holds letters, digits, '-' and '.' only";
            return std::nullopt;
        }
    }
    if (host.front() == '.' || host.find("..") != std::string::npos) {
        why = "a host name has no empty labels";
        return std::nullopt;
    }
    return host;
}

std::string HostOf(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string_view authority = url.substr(scheme + 3);
    // Browsers end the authority at a backslash too, so "http://a.com\@b.org/" is on a.com.
    authority = authority.substr(0, authority.find_first_of("/?#\\"));
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return {};
        host = authority.substr(1, close - 1);
    } else {
        host = authority.substr(0, authority.find(':'));
    }
    std::string out;
    for (const char c : host)
        out += Lower(c);
    if (!out.empty() && out.back() == '.')
        out.pop_back();
    return out;
}

bool HostMatches(std::string_view host, std::string_view wanted) {
    if (wanted.empty() || host.size() < wanted.size() ||
        host.substr(host.size() - wanted.size()) != wanted)
        return false;
    return host.size() == wanted.size() || host[host.size() - wanted.size() - 1] == '.';
}

bool Admits(const RowOptions& options, const cache::FoundFile& row) {
    // A row without the time a time filter asks about is left out: it cannot be shown to match.
    if (options.since && (!row.cached || *row.cached < *options.since))
        return false;
    if (options.until && (!row.cached || *row.cached > *options.until))
        return false;
    if (options.minSize && (!row.size || *row.size < *options.minSize))
        return false;
    if (!options.hosts.empty()) {
        const std::string host = HostOf(row.url);
        if (std::none_of(options.hosts.begin(), options.hosts.end(),
                         [&](const std::string& h) { return HostMatches(host, h); }))
            return false;
    }
    return true;
}

std::vector<std::size_t> SortedOrder(const std::vector<const cache::FoundFile*>& rows, SortBy by) {
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    switch (by) {
    case SortBy::ListOrder:
        break;
    case SortBy::Name: {
        std::vector<std::string> keys;
        keys.reserve(rows.size());
        for (const auto& r : rows)
            keys.push_back(platform::CollationKey(r->fileName));
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
        break;
    }
    case SortBy::Time:
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const auto& x = rows[a]->cached;
            const auto& y = rows[b]->cached;
            return x && (!y || *x < *y);
        });
        break;
    case SortBy::Size:
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const auto& x = rows[a]->size;
            const auto& y = rows[b]->size;
            return x && (!y || *x < *y);
        });
        break;
    case SortBy::Url:
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return rows[a]->url < rows[b]->url; });
        break;
    }
    return order;
}

bool ConsumeRowOption(const std::vector<std::string>& arguments, std::size_t& i,
                      RowOptions& options, std::string& error) {
    const std::string& a = arguments[i];
    if (a == "--unique" || a == "--report" || a == "--hash") {
        (a == "--unique" ? options.unique : a == "--report" ? options.report : options.hash) = true;
        return true;
    }
    std::string value;
    bool present = false;
    auto fail = [&](const std::string& name, const std::string& why) {
        if (error.empty())
            error = "'" + name + " " + value + "': " + why;
    };
    std::string why;
    // An option that takes one value is refused a second time: which of two --sort keys
    // should win is a guess, and a script that passes both has a mistake in it.
    const auto once = [&](const char* name, bool given) {
        if (given && error.empty())
            error = std::string("'") + name + "' is given twice";
        return !given;
    };
    if (OptionValue(arguments, i, "--since", value, present, error) ||
        OptionValue(arguments, i, "--until", value, present, error)) {
        if (!present)
            return true;
        const bool until = a.rfind("--until", 0) == 0;
        if (!once(until ? "--until" : "--since",
                  (until ? options.until : options.since).has_value()))
            return true;
        const auto t = ParseInstant(value, until, why);
        if (!t)
            fail(until ? "--until" : "--since", why);
        else
            (until ? options.until : options.since) = t;
        return true;
    }
    if (OptionValue(arguments, i, "--host", value, present, error)) {
        if (!present)
            return true;
        if (const auto h = ParseHostName(value, why))
            options.hosts.push_back(*h);
        else
            fail("--host", why);
        return true;
    }
    if (OptionValue(arguments, i, "--min-size", value, present, error)) {
        if (!present || !once("--min-size", options.minSize.has_value()))
            return true;
        if (const auto n = ParseByteCount(value, why))
            options.minSize = n;
        else
            fail("--min-size", why);
        return true;
    }
    if (OptionValue(arguments, i, "--sort", value, present, error)) {
        if (!present || !once("--sort", options.sort != SortBy::ListOrder))
            return true;
        if (value == "name")
            options.sort = SortBy::Name;
        else if (value == "time")
            options.sort = SortBy::Time;
        else if (value == "size")
            options.sort = SortBy::Size;
        else if (value == "url")
            options.sort = SortBy::Url;
        else
            fail("--sort", "sort by name, time, size or url");
        return true;
    }
    return false;
}

std::string CheckRowOptions(const RowOptions& options, bool list, bool save, bool json) {
    const bool filters = options.since || options.until || !options.hosts.empty() ||
                         options.minSize || options.sort != SortBy::ListOrder;
    if (filters && !list && !save)
        return "'--since', '--until', '--host', '--min-size' and '--sort' go with '--list' or "
               "'--save'";
    if ((options.unique || options.report) && !save)
        return std::string("'") + (options.unique ? "--unique" : "--report") +
               "' goes with '--save'";
    if (options.hash && !(list && json))
        return "'--hash' goes with '--list --json'";
    if (options.since && options.until && *options.since > *options.until)
        return "'--since' is later than '--until': no row could match";
    return {};
}

std::vector<const cache::FoundFile*> SelectRows(const cache::FoundFileList& list,
                                                const RowOptions& options) {
    std::vector<const cache::FoundFile*> admitted;
    for (std::size_t i = 1; i <= list.count(); ++i) {
        const cache::FoundFile& row = list.row(list.rowAt(i));
        if (Admits(options, row))
            admitted.push_back(&row);
    }
    std::vector<const cache::FoundFile*> out;
    out.reserve(admitted.size());
    for (const std::size_t k : SortedOrder(admitted, options.sort))
        out.push_back(admitted[k]);
    return out;
}

} // namespace cli
