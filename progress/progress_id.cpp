#include "progress/progress_id.h"

namespace {
const char16_t kszSectionPrefix[] = u"Local\\VARO.Progress.";
constexpr std::size_t kcchSectionPrefix = sizeof kszSectionPrefix / sizeof kszSectionPrefix[0] - 1;
static_assert(kcchSectionPrefix + kcchMaxProgressId + 1 == kcchProgressSectionName, "the name's room");

bool IdCharacter(char16_t ch) {
    return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9') || ch == u'-';
}
}  // namespace

bool ProgressIdValid(const char16_t* pchId, std::size_t cchId) {
    if (!pchId || cchId == 0 || cchId > kcchMaxProgressId) return false;
    for (std::size_t i = 0; i < cchId; ++i)
        if (!IdCharacter(pchId[i])) return false;
    return true;
}

bool ProgressSectionName(const char16_t* pchId, std::size_t cchId, char16_t (&szName)[kcchProgressSectionName]) {
    szName[0] = u'\0';
    if (!ProgressIdValid(pchId, cchId)) return false;
    for (std::size_t i = 0; i < kcchSectionPrefix; ++i) szName[i] = kszSectionPrefix[i];
    for (std::size_t i = 0; i < cchId; ++i) {
        const char16_t ch = pchId[i];
        szName[kcchSectionPrefix + i] = ch >= u'A' && ch <= u'Z' ? static_cast<char16_t>(ch - u'A' + u'a') : ch;
    }
    szName[kcchSectionPrefix + cchId] = u'\0';
    return true;
}
