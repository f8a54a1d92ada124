// Built only by the layering test, which expects this file NOT to compile: its target links
// the scan library alone, so the save command's header must not be found.
#include "cache/scan/url_cache.h"
#include "save/save_command.h"
