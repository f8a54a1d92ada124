// Streams behind OpenDecodedBody: the stored bytes of a body, and the content decoders.
#pragma once

#include "cache/browser/browser.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace browser::detail {

inline constexpr char kChangedWhileReading[] = "the cache entry changed while being read";
inline constexpr char kDoesNotDecode[] = "the body does not decode";

// A stream that fails at once with `error`.
std::unique_ptr<BodyStream> FailedStream(std::string error);
// The stored bytes of the segments, in order. A file that is gone, no longer a regular file
// or shorter than a segment needs fails the stream.
std::unique_ptr<BodyStream> OpenStoredBody(std::vector<BodySegment> segments);
// A copy of `bytes` as a stream.
std::unique_ptr<BodyStream> MemoryStream(std::string_view bytes);
// Undoes `encodings` (applied left to right) on `raw`, right to left. Every stage fails once
// it has produced more than `cap` bytes; an unknown coding fails the stream.
std::unique_ptr<BodyStream> DecodeStream(std::unique_ptr<BodyStream> raw,
                                         const std::vector<std::string>& encodings,
                                         std::uint64_t cap);
std::string TooLargeError(std::uint64_t cap);

} // namespace browser::detail
