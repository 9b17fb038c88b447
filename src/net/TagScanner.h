#pragma once
// Marker search over answer texts: plain, case-sensitive substring searches
// that move forward from a position. A search that starts while the
// position is -1 (nothing found last time) starts again at the beginning,
// so a missing element does not hide the following ones; otherwise each
// element is only searched behind the previous one found.
#include <string>

namespace vextal {

class CTagScanner {
public:
    std::string StartTag;
    std::string EndTag;
    long Position = 0;     // where the next search starts; -1 = last search failed
    long EndPosition = 0;  // index of the end tag found last, or -1
    long Limit = 0;        // when at least 1, a start tag ending at or beyond it counts as not found

    CTagScanner() = default;
    CTagScanner(std::string startTag, std::string endTag);

    // Moves the position just behind `marker`; -1 when it is missing.
    bool SkipPast(const std::string& answer, const std::string& marker);
    void SetTags(const std::string& startTag, const std::string& endTag);
    // Moves the position just behind the start tag; -1 when it is missing.
    bool FindStart(const std::string& answer);
    // The text from the position up to the end tag. True only when a value
    // was read (start found before and end tag found); the position then
    // moves behind the end tag and both tags are emptied, so every read
    // needs its own SetTags.
    bool ReadValue(const std::string& answer, std::string& value);
    // FindStart, then ReadValue.
    bool Next(const std::string& answer, std::string& value);
    // SetTags, then Next.
    bool Next(const std::string& answer, const std::string& startTag, const std::string& endTag,
              std::string& value);

private:
    size_t SearchFrom() const;
};

}  // namespace vextal
