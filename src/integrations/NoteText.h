#pragma once

#include <chrono>
#include <string>
#include <string_view>

// Text helpers shared by the meeting notes and the contact files.
namespace brindle::NoteText {

// A file-name slug: ASCII letters and digits of the lower-cased text, runs of
// anything else turned into one "-", cut to maxLength characters with no "-"
// at either end; "untitled" when nothing is left.
// "Q3 Planning — Café & Budget!" -> "q3-planning-caf-budget".
std::string slugify(std::string_view text, size_t maxLength);

// text with every letter in lower case (Unicode simple case mapping).
std::string lowered(std::string_view text);

}  // namespace brindle::NoteText
