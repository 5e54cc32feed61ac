#include "update/release/utc_time.h"

#include <cstddef>

#include "base/ascii.h"

namespace {

constexpr char kShape[] = "####-##-##T##:##:##Z";  // '#' stands for a digit

int Number(const std::string& text, size_t at, size_t digits) {
    int value = 0;
    for (size_t i = at; i < at + digits; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given day: whole 400-year eras of 146097 days,
// counted from a year that starts in March so that a leap day ends its year.
int64_t DaysSinceEpoch(int year, int month, int day) {
    const int64_t shifted = month <= 2 ? year - 1 : year;
    const int64_t era = (shifted >= 0 ? shifted : shifted - 399) / 400;
    const int64_t yearOfEra = shifted - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

}  // namespace

bool ParseUtcTime(const std::string& text, int64_t& seconds) {
    if (text.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == '#' ? !IsAsciiDigit(text[i]) : text[i] != kShape[i]) return false;
    }
    const int year = Number(text, 0, 4), month = Number(text, 5, 2), day = Number(text, 8, 2);
    const int hour = Number(text, 11, 2), minute = Number(text, 14, 2), second = Number(text, 17, 2);
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    seconds = DaysSinceEpoch(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}
