// Upload-Expires dates: a table across the epoch, leap years and centuries,
// 2038 and the form's last second; and every day from 1970 to 2400 against
// a calendar walked a day at a time.
#include "resumable/http_date.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace {

using resumable::kcchHttpDate;

std::string DateOf(std::int64_t t) {
    char szDate[kcchHttpDate + 1];
    std::memset(szDate, '#', sizeof szDate);
    EXPECT_TRUE(resumable::FormatHttpDate(t, szDate)) << t;
    EXPECT_EQ('\0', szDate[kcchHttpDate]);
    return szDate;
}

TEST(HttpDate, KnownInstants) {
    const struct {
        std::int64_t t;
        const char* pszDate;
    } cases[] = {
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {86399, "Thu, 01 Jan 1970 23:59:59 GMT"},
        {86400, "Fri, 02 Jan 1970 00:00:00 GMT"},
        {1403712000, "Wed, 25 Jun 2014 16:00:00 GMT"},  // the protocol's example
        {946684799, "Fri, 31 Dec 1999 23:59:59 GMT"},
        {946684800, "Sat, 01 Jan 2000 00:00:00 GMT"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},  // a century that is a leap year
        {951868800, "Wed, 01 Mar 2000 00:00:00 GMT"},
        {1709209845, "Thu, 29 Feb 2024 12:30:45 GMT"},
        {2147483647, "Tue, 19 Jan 2038 03:14:07 GMT"},  // the last second of 32-bit time
        {2147483648, "Tue, 19 Jan 2038 03:14:08 GMT"},
        {4102444799, "Thu, 31 Dec 2099 23:59:59 GMT"},
        {4102444800, "Fri, 01 Jan 2100 00:00:00 GMT"},
        {4107542399, "Sun, 28 Feb 2100 23:59:59 GMT"},  // a century that is not
        {4107542400, "Mon, 01 Mar 2100 00:00:00 GMT"},
        {resumable::ktMaxHttpDate, "Fri, 31 Dec 9999 23:59:59 GMT"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.pszDate, DateOf(c.t));
}

TEST(HttpDate, TimesTheFormCannotSpellAreRefused) {
    for (std::int64_t t : {std::int64_t{-1}, std::int64_t{-86400}, resumable::ktMaxHttpDate + 1,
                           std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}) {
        SCOPED_TRACE(t);
        char szDate[kcchHttpDate + 1] = "#";
        EXPECT_FALSE(resumable::FormatHttpDate(t, szDate));
        EXPECT_EQ('\0', szDate[0]);
    }
}

bool IsLeap(int nYear) { return (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0; }

TEST(HttpDate, EveryDayFrom1970To2400FollowsTheCalendar) {
    static const char* const kapszDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const kapszMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int anDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int nYear = 1970, nMonth = 0, nDay = 1;
    for (std::int64_t nDays = 0; nYear < 2400; ++nDays) {
        char szExpected[kcchHttpDate + 1];
        // Each day at a second that moves through the day's hours.
        const std::int64_t nSecond = nDays * 7919 % 86400;
        std::snprintf(szExpected, sizeof szExpected, "%s, %02d %s %04d %02d:%02d:%02d GMT", kapszDays[nDays % 7], nDay,
                      kapszMonths[nMonth], nYear, int(nSecond / 3600), int(nSecond / 60 % 60), int(nSecond % 60));
        ASSERT_EQ(szExpected, DateOf(nDays * 86400 + nSecond));
        if (++nDay > anDays[nMonth] + (nMonth == 1 && IsLeap(nYear) ? 1 : 0)) {
            nDay = 1;
            if (++nMonth == 12) nMonth = 0, ++nYear;
        }
    }
}

}  // namespace
