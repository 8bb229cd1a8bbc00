#include "LogText.h"

#include <QList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cstring>

namespace logtext {

std::size_t Utf8Offset(std::string_view s, qsizetype units)
{
    std::size_t end = s.size();
    Walk(s, [&units, &end](char32_t c, std::size_t at) {
        if (Utf16Width(c) > units) {
            end = at;
            return false;
        }
        units -= Utf16Width(c);
        return true;
    });
    return end;
}

qsizetype Utf16Units(std::string_view s, std::size_t bytes)
{
    qsizetype units = 0;
    Walk(s.substr(0, bytes), [&units](char32_t c, std::size_t) {
        units += Utf16Width(c);
        return true;
    });
    return units;
}

std::pair<qsizetype, qsizetype> WordAt(const QString& line, qsizetype column)
{
    if (line.isEmpty())
        return {0, 0};
    column = std::clamp<qsizetype>(column, 0, line.size() - 1);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, line);
    finder.setPosition(column);
    const qsizetype start = finder.isAtBoundary() ? column : finder.toPreviousBoundary();
    finder.setPosition(column);
    const qsizetype end = finder.toNextBoundary();
    if (start < 0 || end < 0)
        return {column, column + 1};
    return {start, end};
}

namespace {
char32_t Folded(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return QChar::toCaseFolded(c);
}
} // namespace

TMatcher::TMatcher(const QString& needle)
{
    const QList<uint> cps = needle.toUcs4();
    for (const uint c : cps)
        folded_.push_back(Folded(char32_t(c)));
    if (folded_.empty())
        return;
    // Bytes a match can begin with: every lead byte of a longer code point
    // (folding may take it anywhere), and the ASCII letters of either case.
    for (int b = 0xC2; b < 0xF5; ++b)
        firstByte_[b] = true;
    for (int b = 0; b < 0x80; ++b)
        firstByte_[b] = Folded(char32_t(b)) == folded_[0];
    // Beyond ASCII only the Kelvin sign and the long s fold into it.
    const char32_t c = folded_[0];
    if (c < 0x80 && c != U'k' && c != U's') {
        ascii_ = true;
        first_[0] = char(c);
        first_[1] = c >= U'a' && c <= U'z' ? char(c - 32) : char(c);
    }
}

bool TMatcher::MatchesAt(std::string_view line, std::size_t at, std::size_t* end) const
{
    for (const char32_t want : folded_) {
        if (at >= line.size())
            return false;
        char32_t cp;
        const std::size_t len = DecodeAt(line, at, cp);
        if (len == 0 || Folded(cp) != want)
            return false;
        at += len;
    }
    if (end)
        *end = at;
    return true;
}

std::size_t TMatcher::First(std::string_view line, std::size_t from) const
{
    if (folded_.empty())
        return std::string_view::npos;
    const char* text = line.data();
    const std::size_t n = line.size();
    if (ascii_) {
        for (std::size_t i = from; i < n;) {
            const auto* a = static_cast<const char*>(std::memchr(text + i, first_[0], n - i));
            const auto* b = first_[1] == first_[0] ? nullptr
                                                   : static_cast<const char*>(std::memchr(text + i, first_[1], n - i));
            const std::size_t at = std::min(a ? std::size_t(a - text) : n, b ? std::size_t(b - text) : n);
            if (at >= n)
                return std::string_view::npos;
            if (MatchesAt(line, at, nullptr))
                return at;
            i = at + 1;
        }
        return std::string_view::npos;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = from; i < n; ++i) {
        if (firstByte_[p[i]] && MatchesAt(line, i, nullptr))
            return i;
    }
    return std::string_view::npos;
}

std::size_t TMatcher::Last(std::string_view line, std::size_t before) const
{
    std::size_t last = std::string_view::npos;
    for (std::size_t at = First(line); at < before && at != std::string_view::npos; at = First(line, at + 1))
        last = at;
    return last;
}

std::size_t TMatcher::Length(std::string_view line, std::size_t at) const
{
    std::size_t end = at;
    MatchesAt(line, at, &end);
    return end - at;
}

} // namespace logtext
