// The image reader's side: tamberlin-image-reader answers the program's requests
// (platform/image/reader_protocol.h) about one disk image, read through The Sleuth Kit.
#pragma once

namespace platform {

// The reader's side: answers requests from `in` on `out` until `in` ends. Returns the exit
// status for the reader program. `fault` is for tests: a reader that crashes or hangs when it
// first opens a file, as a library fault on a crafted image would.
enum class ReaderFault { None, CrashAtRead, HangAtRead };
int ServeImageRequests(int in, int out, ReaderFault fault = ReaderFault::None);

} // namespace platform
