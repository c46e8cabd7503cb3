#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

// Finds the mounted volumes that may hold a copy of the Larder folder.
namespace brindle::Volumes {

// The folders whose entries are volumes: LARDER_VOLUMES split at ":" (empty
// pieces dropped) when it is set, else /media/$USER then /run/media/$USER.
std::vector<std::filesystem::path> parents();

// The volume folders: for each parent in order, its directories that are not
// hidden, sorted by path. A parent that cannot be listed gives none.
std::vector<std::filesystem::path> mounted();

// The mounted volumes that may be offered as new drives, in mounted() order:
// those whose marker names a drive in `excluded` are left out, and (unless
// LARDER_VOLUMES is set) so are the root file system and internal disks.
std::vector<std::filesystem::path> candidates(const std::set<std::string>& excluded);

// Whether the volume at path is the root file system or lies on an internal
// disk, judged from mountinfo (the text of /proc/self/mountinfo) and the
// kernel's device tree under sysRoot ("/sys"). Anything that cannot be
// found out counts as external.
bool isSystemVolume(const std::filesystem::path& path, const std::string& mountinfo,
                    const std::filesystem::path& sysRoot);

}  // namespace brindle::Volumes
