#include "resumable/upload_id.h"

namespace resumable {

namespace {

template <typename Char>
bool IdValid(const Char* pchId, std::size_t cchId) {
    if (!pchId || cchId != kcchUploadId) return false;
    for (std::size_t i = 0; i < cchId; ++i) {
        const Char ch = pchId[i];
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
    }
    return true;
}

}  // namespace

void MakeUploadId(const unsigned char (&abRandom)[kcbUploadIdRandom], char (&szId)[kcchUploadId + 1]) {
    static const char kszDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < kcbUploadIdRandom; ++i) {
        szId[2 * i] = kszDigits[abRandom[i] >> 4];
        szId[2 * i + 1] = kszDigits[abRandom[i] & 0x0F];
    }
    szId[kcchUploadId] = '\0';
}

bool UploadIdValid(const char* pchId, std::size_t cchId) { return IdValid(pchId, cchId); }

bool UploadIdValid(const char16_t* pchId, std::size_t cchId) { return IdValid(pchId, cchId); }

}  // namespace resumable
