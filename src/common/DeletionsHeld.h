#pragma once

#include "common/Error.h"

#include <string>

namespace brindle {

// A store's run that held back a mass deletion: gone of known files (known:
// the files both sides last agreed on) vanished from one side, and none of
// them was deleted on the other. The rest of the run went ahead. what() is
// "1,204 of 2,000 files are gone from Stick; nothing was deleted here."
class DeletionsHeld : public Error {
public:
    enum class Side {
        here,   // the files vanished from the store; the folder keeps them
        store,  // the files vanished from the folder; the store keeps them
    };

    DeletionsHeld(std::string store, Side side, long long gone, long long known);

    const std::string& store() const { return store_; }
    Side side() const { return side_; }
    long long gone() const { return gone_; }
    long long known() const { return known_; }

private:
    std::string store_;
    Side side_;
    long long gone_;
    long long known_;
};

}  // namespace brindle
