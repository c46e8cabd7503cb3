#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

// Expects statement to throw Type (or one derived from it) whose what() holds text.
#define EXPECT_THROW_WITH(statement, Type, text) \
    EXPECT_THAT([&] { statement; }, ::testing::ThrowsMessage<Type>(::testing::HasSubstr(text)))

namespace brindle::test {

using ::testing::AllOf, ::testing::EndsWith, ::testing::HasSubstr, ::testing::Not, ::testing::StartsWith;

// The what() of the Failure that call throws, "(nothing thrown)" when it returns.
template <typename Failure = std::exception, typename Call>
std::string failureText(Call&& call) {
    try {
        call();
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "(nothing thrown)";
}

// How many times part occurs in text.
inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

}  // namespace brindle::test
