#include "net/TagScanner.h"

#include <utility>

namespace vextal {

CTagScanner::CTagScanner(std::string startTag, std::string endTag)
    : StartTag(std::move(startTag)), EndTag(std::move(endTag))
{
}

size_t CTagScanner::SearchFrom() const
{
    return Position < 0 ? 0 : static_cast<size_t>(Position);
}

bool CTagScanner::SkipPast(const std::string& answer, const std::string& marker)
{
    size_t from = SearchFrom();
    size_t p = from > answer.size() ? std::string::npos : answer.find(marker, from);
    if (p == std::string::npos) {
        Position = -1;
        return false;
    }
    Position = static_cast<long>(p + marker.size());
    return true;
}

void CTagScanner::SetTags(const std::string& startTag, const std::string& endTag)
{
    StartTag = startTag;
    EndTag = endTag;
}

bool CTagScanner::FindStart(const std::string& answer)
{
    if (!SkipPast(answer, StartTag)) return false;
    if (Limit >= 1 && Position >= Limit) {
        Position = -1;
        return false;
    }
    return true;
}

bool CTagScanner::ReadValue(const std::string& answer, std::string& value)
{
    value.clear();
    size_t from = SearchFrom();
    size_t p = from > answer.size() ? std::string::npos : answer.find(EndTag, from);
    EndPosition = p == std::string::npos ? -1 : static_cast<long>(p);
    if (Position < 0 || EndPosition < 0) return false;
    value = answer.substr(static_cast<size_t>(Position), p - static_cast<size_t>(Position));
    Position = static_cast<long>(p + EndTag.size());
    EndPosition = 0;
    StartTag.clear();
    EndTag.clear();
    return true;
}

bool CTagScanner::Next(const std::string& answer, std::string& value)
{
    if (!FindStart(answer)) {
        value.clear();
        return false;
    }
    return ReadValue(answer, value);
}

bool CTagScanner::Next(const std::string& answer, const std::string& startTag, const std::string& endTag,
                       std::string& value)
{
    SetTags(startTag, endTag);
    return Next(answer, value);
}

}  // namespace vextal
