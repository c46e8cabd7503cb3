#pragma once

#include <filesystem>
#include <string>

// The desktop's Trash, as file managers keep it (the freedesktop.org Trash
// layout): a file moved there can be restored by the user.
namespace brindle::Trash {

struct Outcome {
    bool trashed = false;
    std::filesystem::path where;  // the file inside the trash's "files" folder
    std::string reason;           // why no trash could take it, when not trashed
};

// Moves the file at path (absolute, or relative to the working folder) into
// the trash of its file system: the home trash ($XDG_DATA_HOME/Trash) when it
// lies on the same one, else ".Trash-UID" at the top of the file system it
// lives on (created when missing, refused when it is a link or not ours).
// Writes its ".trashinfo" (Path, DeletionDate in local time) before the move,
// so the file is never in the trash without one. Never deletes anything: when
// no trash can take the file it stays where it is and the reason says why.
// A name already in the trash gets ".2", ".3" ... added.
Outcome put(const std::filesystem::path& path);

}  // namespace brindle::Trash
