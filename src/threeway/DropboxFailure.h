#pragma once

#include "common/Error.h"

#include <string>

namespace brindle {

// The error of the three-way sync and its stores. A reset failure tells the
// reconciler that its change cursor is no longer valid and everything must be
// listed again; any other failure carries its own text.
class DropboxFailure : public Error {
public:
    static DropboxFailure message(const std::string& text) { return DropboxFailure(text, false); }
    static DropboxFailure reset() { return DropboxFailure("Dropbox asked us to list everything again.", true); }

    bool isReset() const { return reset_; }

private:
    DropboxFailure(const std::string& text, bool reset) : Error(text), reset_(reset) {}
    bool reset_;
};

}  // namespace brindle
