#include "common/DeletionGuard.h"

#include "common/Error.h"
#include "common/Files.h"

namespace brindle {

namespace DeletionGuard {

namespace {

constexpr const char* kDelete = "delete\n";
constexpr const char* kKeep = "keep\n";

std::filesystem::path answerFile(const std::filesystem::path& stateDir, const std::string& store) {
    std::string name = store;
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    return stateDir / ("deletions-" + name + ".answer");
}

}  // namespace

bool tooMany(long long gone, long long known) {
    return gone > kFloor && gone * 2 > known;
}

void answer(const std::filesystem::path& stateDir, const std::string& store, Answer answer) {
    std::filesystem::path file = answerFile(stateDir, store);
    if (answer == Answer::none) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(stateDir, error);
    if (error) throw Error("Could not create " + stateDir.string() + ": " + error.message());
    Files::writeAtomically(file, answer == Answer::deleteThem ? kDelete : kKeep);
}

Answer take(const std::filesystem::path& stateDir, const std::string& store) {
    std::filesystem::path file = answerFile(stateDir, store);
    std::optional<std::string> text = Files::read(file);
    if (!text) return Answer::none;
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    if (*text == kDelete) return Answer::deleteThem;
    if (*text == kKeep) return Answer::keepThem;
    return Answer::none;
}

}  // namespace DeletionGuard

}  // namespace brindle
