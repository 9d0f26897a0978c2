// The request location of one download: what NoltUpdater::DownloadFile hands to the transfer
// objects.
#pragma once
#include "foundation/strings/hx_str.h"

// `source`, with "?" + `query` appended when the query is not empty; every backslash before the
// first "?" becomes '/', and what follows it is URL-escaped (foundation/strings/url_escape.h).
HxStr DownloadLocation(const HxStr& source, const HxStr& query);
