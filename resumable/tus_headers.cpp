#include "resumable/tus_headers.h"

namespace resumable {

namespace {

bool Equals(const unsigned char* pb, std::size_t cb, const char* psz) {
    std::size_t i = 0;
    for (; i < cb && psz[i]; ++i)
        if (pb[i] != static_cast<unsigned char>(psz[i])) return false;
    return i == cb && !psz[i];
}

unsigned char LowerAscii(unsigned char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<unsigned char>(ch + 32) : ch; }

// RFC 7230's tchar: the characters of a method or header token.
bool IsTokenChar(unsigned char ch) {
    if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) return true;
    switch (ch) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+': case '-': case '.':
    case '^': case '_': case '`': case '|': case '~':
        return true;
    default:
        return false;
    }
}

}  // namespace

VersionStatus ReadTusResumable(const unsigned char* pb, std::size_t cb) {
    if (!pb || cb == 0) return VersionStatus::kAbsent;
    return Equals(pb, cb, kszTusVersion) ? VersionStatus::kSupported : VersionStatus::kOther;
}

NumberStatus ReadUploadNumber(const unsigned char* pb, std::size_t cb, std::uint64_t* pcb) {
    *pcb = 0;
    if (!pb || cb == 0) return NumberStatus::kAbsent;
    std::uint64_t n = 0;
    bool bOverflow = false;
    for (std::size_t i = 0; i < cb; ++i) {
        if (pb[i] < '0' || pb[i] > '9') return NumberStatus::kMalformed;
        // Past 64 bits the digits are still read: a letter after them makes
        // the value malformed as well.
        if (!bOverflow)
            bOverflow = __builtin_mul_overflow(n, 10u, &n) || __builtin_add_overflow(n, pb[i] - '0', &n);
    }
    // No 64-bit number holds it: a client's own count wrapped or was made up.
    if (bOverflow) return NumberStatus::kMalformed;
    if (n > kcbMaxUpload) return NumberStatus::kTooLarge;
    *pcb = n;
    return NumberStatus::kOk;
}

DeferStatus ReadUploadDeferLength(const unsigned char* pb, std::size_t cb) {
    if (!pb || cb == 0) return DeferStatus::kAbsent;
    return cb == 1 && pb[0] == '1' ? DeferStatus::kDeferred : DeferStatus::kMalformed;
}

TusMethod MethodFromToken(const unsigned char* pb, std::size_t cb) {
    if (!pb) return TusMethod::kOther;
    if (Equals(pb, cb, "HEAD")) return TusMethod::kHead;
    if (Equals(pb, cb, "PATCH")) return TusMethod::kPatch;
    if (Equals(pb, cb, "POST")) return TusMethod::kPost;
    if (Equals(pb, cb, "OPTIONS")) return TusMethod::kOptions;
    if (Equals(pb, cb, "DELETE")) return TusMethod::kDelete;
    if (Equals(pb, cb, "GET")) return TusMethod::kGet;
    return TusMethod::kOther;
}

OverrideStatus ReadMethodOverride(const unsigned char* pb, std::size_t cb, TusMethod* pMethod) {
    *pMethod = TusMethod::kOther;
    if (!pb || cb == 0) return OverrideStatus::kAbsent;
    if (cb > kcchMaxMethod) return OverrideStatus::kMalformed;
    for (std::size_t i = 0; i < cb; ++i)
        if (!IsTokenChar(pb[i])) return OverrideStatus::kMalformed;
    *pMethod = MethodFromToken(pb, cb);
    return OverrideStatus::kOk;
}

bool IsOffsetOctetStream(const unsigned char* pb, std::size_t cb) {
    static const char kszType[] = "application/offset+octet-stream";
    if (!pb || cb != sizeof kszType - 1) return false;
    for (std::size_t i = 0; i < cb; ++i)
        if (LowerAscii(pb[i]) != static_cast<unsigned char>(kszType[i])) return false;
    return true;
}

}  // namespace resumable
