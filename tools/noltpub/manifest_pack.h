// `noltpub pack OUT.zip FILE...`: the manifest archive that the server publishes, each file
// stored deflated under its bare name.
#pragma once
#include <string>
#include <vector>

namespace noltpub {

// Writes the archive through a temporary file beside `output`. False with `error` when a file
// cannot be read, two files share a name, or the archive cannot be written.
bool PackFiles(const std::string& output, const std::vector<std::string>& files,
               std::string& error);

}  // namespace noltpub
