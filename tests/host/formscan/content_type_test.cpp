// The boundary a request's Content-Type names: the forms clients and
// servers write (quoted or not, names in any case, other parameters around
// it), and the values no first line could ever match, which name none.
#include "formscan/content_type.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace {

struct TypeCase {
    const char* what;
    std::string type;
    bool bFound;
    std::string boundary;
};

void PrintTo(const TypeCase& c, std::ostream* pOut) { *pOut << c.what; }

const std::string k200(200, 'b');

const TypeCase kTypeCases[] = {
    {"browser", "multipart/form-data; boundary=----WebKitFormBoundary7MA4YWxkTrZu0gW", true,
     "----WebKitFormBoundary7MA4YWxkTrZu0gW"},
    {"quoted", "multipart/form-data; boundary=\"AaB03x\"", true, "AaB03x"},
    {"any case", "Multipart/Form-Data; BOUNDARY=ab--", true, "ab--"},
    {"no blank, other parameters first", "multipart/form-data;charset=utf-8;boundary=x", true, "x"},
    {"blanks around everything", " \tmultipart/form-data \t; \tboundary \t= \t\"ab\" \t; x=y", true, "ab"},
    {"escapes in quotes", "multipart/form-data; boundary=\"a\\\"b\\\\c\"", true, "a\"b\\c"},
    {"';' and '=' in quotes", "multipart/form-data; boundary=\"a;b=c\"", true, "a;b=c"},
    {"a boundary inside another parameter's quotes", "multipart/form-data; x=\"; boundary=no\"; boundary=yes", true,
     "yes"},
    {"parameter without a value first", "multipart/form-data; flag; boundary=x", true, "x"},
    {"the first of two", "multipart/form-data; boundary=first; boundary=second", true, "first"},
    {"another multipart type", "multipart/mixed; boundary=m", true, "m"},
    {"a blank inside a token", "multipart/form-data; boundary=ab cd ; x=y", true, "ab cd"},
    {"200 bytes", "multipart/form-data; boundary=" + k200, true, k200},
    {"201 bytes", "multipart/form-data; boundary=" + k200 + "b", false, ""},
    {"no boundary parameter", "multipart/form-data", false, ""},
    {"a parameter that only ends in boundary", "multipart/form-data; xboundary=a", false, ""},
    {"empty", "multipart/form-data; boundary=", false, ""},
    {"empty quotes", "multipart/form-data; boundary=\"\"", false, ""},
    {"unterminated quotes", "multipart/form-data; boundary=\"abc", false, ""},
    {"a blank last", "multipart/form-data; boundary=\"ab \"", false, ""},
    {"a byte past ASCII", "multipart/form-data; boundary=ab\xE9", false, ""},
    {"a control byte", "multipart/form-data; boundary=\"a\tb\"", false, ""},
    {"the first boundary unusable", "multipart/form-data; boundary=\"\"; boundary=x", false, ""},
    {"not multipart", "application/x-www-form-urlencoded; boundary=x", false, ""},
    {"a type that only begins like it", "multipartx/form-data; boundary=x", false, ""},
    {"no type", "; boundary=x", false, ""},
    {"nothing", "", false, ""},
};

class ContentTypeBoundary : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ContentTypeBoundary, NamesTheBoundary) {
    const TypeCase& c = GetParam();
    unsigned char abBoundary[kcbMaxBoundary];
    std::uint32_t cbBoundary = 12345;
    const bool bFound = formscan::ContentTypeBoundary(reinterpret_cast<const unsigned char*>(c.type.data()),
                                                      static_cast<std::uint32_t>(c.type.size()), abBoundary,
                                                      &cbBoundary);
    EXPECT_EQ(bFound, c.bFound);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(abBoundary), bFound ? cbBoundary : 0), c.boundary);
    if (!bFound) EXPECT_EQ(cbBoundary, 0u);
}

std::string TestName(const char* what) {
    std::string name;
    for (const char* p = what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(ContentType, ContentTypeBoundary, ::testing::ValuesIn(kTypeCases),
                         [](const ::testing::TestParamInfo<TypeCase>& info) { return TestName(info.param.what); });

TEST(ContentTypeBoundaryNull, NoText) {
    unsigned char abBoundary[kcbMaxBoundary];
    std::uint32_t cbBoundary = 1;
    EXPECT_FALSE(formscan::ContentTypeBoundary(nullptr, 0, abBoundary, &cbBoundary));
    EXPECT_EQ(cbBoundary, 0u);
}

}  // namespace
