// tamberlin-image-reader: reads disk images for the program, apart from it
// (platform/image/image_reader.h).
// It takes requests on standard input and answers on standard output; nothing else.
#include "platform/sleuthkit/image_server.h"

#include <csignal>
#include <cstdlib>
#include <string_view>
#include <unistd.h>

int main() {
    // A test seam: a reader that crashes, or hangs, at its first read of a file's bytes.
    const char* asked = std::getenv("TAMBERLIN_IMAGE_READER_FAULT");
    const std::string_view fault = asked ? asked : "";
    std::signal(SIGPIPE, SIG_IGN);
    return platform::ServeImageRequests(STDIN_FILENO, STDOUT_FILENO,
                                        fault == "crash"  ? platform::ReaderFault::CrashAtRead
                                        : fault == "hang" ? platform::ReaderFault::HangAtRead
                                                          : platform::ReaderFault::None);
}
