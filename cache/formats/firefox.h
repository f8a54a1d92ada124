// Firefox cache2 entry files (firefox_layout.h): versions 1 to 4, both forms of the trailer,
// parsed from the file's end without reading the body.
#pragma once

#include "cache/formats/source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

// CacheFileMetadataHeader, as stored.
struct FirefoxMetadataHeader {
    std::uint32_t version = 0;
    std::uint32_t fetchCount = 0;
    std::uint32_t lastFetched = 0;  // seconds since 1970; 0: never set
    std::uint32_t lastModified = 0; // seconds since 1970: when the response was stored
    std::uint32_t frecency = 0;
    std::uint32_t expirationTime = 0;
    std::uint32_t keySize = 0;
    std::uint32_t flags = 0; // from version 2
};

// One element, by where its name and value are in FirefoxEntry::metadata.
struct FirefoxElement {
    std::size_t nameAt = 0, nameSize = 0, valueAt = 0, valueSize = 0;
};

// One entry file, its metadata checked: the header and trailer agree on the version, the key
// ends in its NUL, the elements come in pairs and the alt-data element (when there is one)
// points inside the data.
struct FirefoxEntry {
    std::uint32_t trailerVersion = 0; // 0: the old trailer (the offset alone)
    std::uint64_t metadataOffset = 0; // where the data (body and alt-data) ends
    FirefoxMetadataHeader header;
    std::string key;      // as stored
    std::string metadata; // as read: hashes, header, key and elements, which these point into
    std::vector<FirefoxElement> elements;
    std::uint64_t bodyEnd = 0; // where the response body ends: at the alt-data, else the data's end
    // The first stored bytes of the body (up to 1 KiB), when the whole file was read anyway.
    std::string firstBytes;
    // Its last kGzipTrailerBytes, when read with the tail.
    std::string lastBytes;
    std::string_view name(const FirefoxElement& e) const {
        return std::string_view(metadata).substr(e.nameAt, e.nameSize);
    }
    std::string_view value(const FirefoxElement& e) const {
        return std::string_view(metadata).substr(e.valueAt, e.valueSize);
    }
    // The value of the last element of that name, or nothing.
    std::optional<std::string_view> element(std::string_view name) const;
};

ParseError ParseFirefoxFile(const Source& file, FirefoxEntry& out);

// Whether the file's bytes are those Firefox wrote: the metadata's own hash and the hash of
// every 256 KiB chunk of the data hold. The data is read whole: this is for files whose bytes
// nothing else vouches for (a deleted entry read back from a disk image).
bool FirefoxHashesHold(const Source& file, const FirefoxEntry& entry);
// Firefox's hash of cache data (Bob Jenkins' lookup2, initial value 0).
std::uint32_t FirefoxCacheHash(std::string_view bytes);

// The URL of a cache2 key ("O^partitionKey=...,a,:http://..."); "" when malformed.
std::string FirefoxKeyUrl(std::string_view key);

} // namespace formats
