// Double-byte characters whose second byte is a backslash or a brace are
// names, never syntax, in code page 932; in code page 1252 the same bytes are
// single characters and the backslash is one.
#include "script_run.h"

namespace {
// "表示" and "予": second bytes 0x5C. "ボ" and "マ": second bytes 0x7B, 0x7D.
const std::string kHyoji = "\x95\x5c\x8e\xa6";
const std::string kYo = "\x97\x5c";
const std::string kBo = "\x83\x7b";
const std::string kMa = "\x83\x7d";
const std::string kSoft = "\x83\x5c\x83\x74\x83\x67";

TEST(EngineCodePageTest, SecondBytesAreNeverSyntaxInCodePage932) {
    HostSetCodePage(932);
    ScriptRun run;
    ASSERT_EQ(run.replacements.Add(u"Module", u"C:\\\u8868\\\u30bd.DLL"), S_OK);
    const std::string strScript = "HKCU { " + kHyoji + " = s '" + kSoft + "' { " + kYo + " = s %MODULE% } " + kBo +
                                  " { " + kMa + " { val " + kYo + "' = s '" + kMa + "' } } }";
    ASSERT_EQ(run.Register(strScript), S_OK);
    EXPECT_EQ(run.Dump(), Sorted(Lines{
                              kBo,
                              kBo + "\\" + kMa,
                              kBo + "\\" + kMa + " [" + kYo + "'] REG_SZ \"" + kMa + "\"",
                              kHyoji,
                              kHyoji + " [] REG_SZ \"" + kSoft + "\"",
                              kHyoji + "\\" + kYo,
                              kHyoji + "\\" + kYo + " [] REG_SZ \"C:\\\x95\x5c\\\x83\x5c.DLL\"",
                          }));
    EXPECT_EQ(run.Unregister(strScript), S_OK);
    EXPECT_EQ(run.Dump(), Lines{});
}

TEST(EngineCodePageTest, TheSameBytesHoldABackslashInCodePage1252) {
    HostSetCodePage(1252);
    ScriptRun run;
    EXPECT_EQ(run.Register("HKCU { " + kHyoji + " }"), DISP_E_EXCEPTION);
    EXPECT_EQ(run.Register("HKCU { " + kBo + " }"), S_OK);
    EXPECT_EQ(run.Dump(), Lines{kBo});
    HostSetCodePage(932);
}
}  // namespace
