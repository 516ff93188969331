#include "resumable/http_date.h"

namespace resumable {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

struct CivilDate {
    std::int64_t nYear;
    unsigned nMonth, nDay;  // 1-12, 1-31
};

// The Gregorian date of a day counted from 1970-01-01 (nDays >= 0), by
// 400-year eras of 146097 days whose years start in March, so that a leap
// day is always its era-year's last day.
CivilDate DateOfDay(std::int64_t nDays) {
    const std::int64_t nShifted = nDays + 719468;  // days from 0000-03-01
    const std::int64_t nEra = nShifted / 146097;
    const std::int64_t nDayOfEra = nShifted - nEra * 146097;
    const std::int64_t nYearOfEra =
        (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    const std::int64_t nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    const std::int64_t nMonthFromMarch = (5 * nDayOfYear + 2) / 153;
    CivilDate date;
    date.nDay = static_cast<unsigned>(nDayOfYear - (153 * nMonthFromMarch + 2) / 5 + 1);
    date.nMonth = static_cast<unsigned>(nMonthFromMarch < 10 ? nMonthFromMarch + 3 : nMonthFromMarch - 9);
    date.nYear = nYearOfEra + nEra * 400 + (date.nMonth <= 2 ? 1 : 0);
    return date;
}

char* PutDigits(char* pch, std::int64_t n, int cDigits) {
    for (int i = cDigits - 1; i >= 0; --i, n /= 10) pch[i] = static_cast<char>('0' + n % 10);
    return pch + cDigits;
}

char* PutText(char* pch, const char* psz) {
    while (*psz) *pch++ = *psz++;
    return pch;
}

}  // namespace

bool FormatHttpDate(std::int64_t tUnix, char (&szDate)[kcchHttpDate + 1]) {
    static const char* const kapszDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kapszMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    szDate[0] = '\0';
    if (tUnix < 0 || tUnix > ktMaxHttpDate) return false;
    const std::int64_t nDays = tUnix / kSecondsPerDay, nSecond = tUnix % kSecondsPerDay;
    const CivilDate date = DateOfDay(nDays);
    char* pch = PutText(szDate, kapszDays[(nDays + 4) % 7]);  // 1970-01-01 was a Thursday
    pch = PutText(pch, ", ");
    pch = PutDigits(pch, date.nDay, 2);
    *pch++ = ' ';
    pch = PutText(pch, kapszMonths[date.nMonth - 1]);
    *pch++ = ' ';
    pch = PutDigits(pch, date.nYear, 4);
    *pch++ = ' ';
    pch = PutDigits(pch, nSecond / 3600, 2);
    *pch++ = ':';
    pch = PutDigits(pch, nSecond / 60 % 60, 2);
    *pch++ = ':';
    pch = PutDigits(pch, nSecond % 60, 2);
    pch = PutText(pch, " GMT");
    *pch = '\0';
    return true;
}

}  // namespace resumable
