#include "logtime.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

// "YYYY-MM-DD HH:MM:SS.mmm" of `ms`; the calendar part is worked out once a
// second, so saving a million lines does not ask for the local time a
// million times.
struct TStamp {
    char text[24];
};

TStamp Stamp(std::int64_t ms)
{
    thread_local std::int64_t lastSecond = INT64_MIN;
    thread_local char second[64] = {};
    std::int64_t s = ms / 1000, milli = ms % 1000;
    if (milli < 0) {
        milli += 1000;
        --s;
    }
    if (s != lastSecond) {
        const std::time_t t = std::time_t(s);
        std::tm tm{};
        localtime_r(&t, &tm);
        std::snprintf(second, sizeof second, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        lastSecond = s;
    }
    TStamp out;
    for (int i = 0; i < 19; ++i)
        out.text[i] = second[i];
    out.text[19] = '.';
    out.text[20] = char('0' + milli / 100);
    out.text[21] = char('0' + milli / 10 % 10);
    out.text[22] = char('0' + milli % 10);
    out.text[23] = 0;
    return out;
}

} // namespace

std::int64_t LogNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string LogDateTime(std::int64_t ms)
{
    return std::string(Stamp(ms).text, 23);
}

std::string LogTimeOfDay(std::int64_t ms)
{
    return std::string(Stamp(ms).text + 11, 12);
}

void AppendLogFileLine(std::string& out, std::int64_t ms, std::string_view line)
{
    out.append(Stamp(ms).text, 23);
    out.append("  ", 2);
    out.append(line);
    out.push_back('\n');
}
