// Streams behind OpenDecodedBody: the stored bytes of a body, and the content decoders.
#pragma once

#include "cache/browser/browser.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace browser::detail {

inline constexpr char kDoesNotDecode[] = "the body does not decode";

// A stream that fails at once with `error`.
std::unique_ptr<BodyStream> FailedStream(std::string error);
// The stored bytes of the segments, in order. A file that is gone, is not the one of the
// segment's identity, or has changed since (seen when its last byte of the body has been read,
// or by verify()) fails the stream with kChangedSinceListed.
class StoredStream : public BodyStream {
  public:
    // False (and the stream failed) when the file being read has changed since it was opened.
    virtual bool verify() = 0;
};
std::unique_ptr<StoredStream> OpenStoredBody(std::vector<BodySegment> segments);

// Test seam: called where a file can change under the stored stream: before it opens a file,
// between two reads, and after the last byte of the body is read but before the last check.
enum class StoredReadPoint { BeforeOpen, BetweenReads, AfterLastByte };
void SetStoredReadHook(std::function<void(StoredReadPoint)> hook);
// A copy of `bytes` as a stream.
std::unique_ptr<BodyStream> MemoryStream(std::string_view bytes);
// Undoes `encodings` (applied left to right) on `raw`, right to left. Every stage fails once
// it has produced more than `cap` bytes; an unknown coding fails the stream. Each stage reads
// ahead up to `buffer` bytes from the one below (a few stored bytes already in memory need no
// more than their own size).
inline constexpr std::size_t kDecodeBuffer = std::size_t{64} * 1024;
std::unique_ptr<BodyStream> DecodeStream(std::unique_ptr<BodyStream> raw,
                                         const std::vector<std::string>& encodings,
                                         std::uint64_t cap, std::size_t buffer = kDecodeBuffer);
std::string TooLargeError(std::uint64_t cap);

} // namespace browser::detail
