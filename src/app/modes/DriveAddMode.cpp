#include "app/Modes.h"
#include "common/Text.h"

#include "common/Error.h"
#include "drives/DriveRegistration.h"
#include "service/Brindle.h"

#include <iostream>

namespace brindle::Modes {

// --drive-add FOLDER LABEL: registers the folder as one of the user's drives.
int driveAdd(const Args& args) {
    std::optional<Brindle::Account> account = Brindle::account();
    if (!account) throw Error("You're signed out of Brindle.");
    const std::string& label = args.at(3);
    std::string id = DriveRegistration::registerDrive(args.at(2), label, *account);
    std::cout << "Added \"" << Text::printable(label) << "\" " << Text::printable(id) << std::endl;
    return 0;
}

}  // namespace brindle::Modes
