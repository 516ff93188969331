// One table of "D" number texts, run against the system conversion on
// Windows and the host's own: both builds must read a registry script alike.
#include <gtest/gtest.h>

#include <string>

#include "platform/number_conversion.h"

namespace {
struct NumberCase {
    const char16_t* text;
    HRESULT hr;
    std::uint32_t value;  // when hr is S_OK
};

const NumberCase kCases[] = {
    {u"0", S_OK, 0},
    {u"42", S_OK, 42},
    {u"00012", S_OK, 12},
    {u" 42 ", S_OK, 42},
    {u"\t42\t", S_OK, 42},
    {u"+42", S_OK, 42},
    {u"-0", S_OK, 0},
    {u"-1", DISP_E_OVERFLOW, 0},
    {u"4294967295", S_OK, 4294967295u},
    {u"4294967296", DISP_E_OVERFLOW, 0},
    {u"99999999999", DISP_E_OVERFLOW, 0},
    {u"&H1F", S_OK, 31},
    {u"&h1f", S_OK, 31},
    {u" &H1F ", S_OK, 31},
    {u"&HFFFFFFFF", S_OK, 4294967295u},
    {u"&H100000000", DISP_E_OVERFLOW, 0},
    {u"&O17", S_OK, 15},
    {u"&H", DISP_E_TYPEMISMATCH, 0},
    {u"&H 1F", DISP_E_TYPEMISMATCH, 0},
    {u"&H-1", DISP_E_TYPEMISMATCH, 0},
    {u"&B101", DISP_E_TYPEMISMATCH, 0},
    {u"0x1F", DISP_E_TYPEMISMATCH, 0},
    {u"1F", DISP_E_TYPEMISMATCH, 0},
    {u"12x", DISP_E_TYPEMISMATCH, 0},
    {u"1 000", DISP_E_TYPEMISMATCH, 0},
    {u"", DISP_E_TYPEMISMATCH, 0},
    {u" ", DISP_E_TYPEMISMATCH, 0},
    {u"+", DISP_E_TYPEMISMATCH, 0},
    {u"1.4", S_OK, 1},
    {u"1.5", S_OK, 2},
    {u"2.5", S_OK, 2},
    {u"0.5", S_OK, 0},
    {u".5", S_OK, 0},
    {u"5.", S_OK, 5},
    {u"4294967295.4", S_OK, 4294967295u},
    {u"4294967295.5", DISP_E_OVERFLOW, 0},
    {u"1e3", S_OK, 1000},
    {u"1.5e1", S_OK, 15},
    {u"1e-1", S_OK, 0},
    {u"1e", DISP_E_TYPEMISMATCH, 0},
};

TEST(NumberConversion, ReadsTheFormsOfTheSystemConversion) {
    for (const NumberCase& c : kCases) {
        const std::u16string text = c.text;
        SCOPED_TRACE(testing::Message() << "text of " << text.size() << " units: "
                                        << std::string(text.begin(), text.end()));
        std::uint32_t ulValue = 12345;
        EXPECT_EQ(c.hr, NumberUI4FromStr(c.text, &ulValue));
        EXPECT_EQ(c.hr == S_OK ? c.value : 12345u, ulValue);
    }
}
}  // namespace
