#include "resumable/base64.h"

namespace resumable {

namespace {

int Sextet(unsigned char ch) {
    if (ch >= 'A' && ch <= 'Z') return ch - 'A';
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9') return ch - '0' + 52;
    if (ch == '+') return 62;
    if (ch == '/') return 63;
    return -1;
}

}  // namespace

bool DecodeBase64(const unsigned char* pb, std::size_t cb, unsigned char* pbOut, std::size_t* pcbOut) {
    *pcbOut = 0;
    if (cb % 4 != 0 || (cb > 0 && !pb)) return false;
    std::size_t cbOut = 0;
    for (std::size_t l = 0; l < cb; l += 4) {
        const bool bLast = l + 4 == cb;
        const int a = Sextet(pb[l]), b = Sextet(pb[l + 1]);
        if (a < 0 || b < 0) return false;
        pbOut[cbOut++] = static_cast<unsigned char>(a << 2 | b >> 4);
        if (bLast && pb[l + 2] == '=') {
            // One byte in the group: "xy==", the 4 bits left of y zero.
            if (pb[l + 3] != '=' || (b & 0x0F) != 0) return false;
            break;
        }
        const int c = Sextet(pb[l + 2]);
        if (c < 0) return false;
        pbOut[cbOut++] = static_cast<unsigned char>((b & 0x0F) << 4 | c >> 2);
        if (bLast && pb[l + 3] == '=') {
            // Two bytes: "xyz=", the 2 bits left of z zero.
            if ((c & 0x03) != 0) return false;
            break;
        }
        const int d = Sextet(pb[l + 3]);
        if (d < 0) return false;
        pbOut[cbOut++] = static_cast<unsigned char>((c & 0x03) << 6 | d);
    }
    *pcbOut = cbOut;
    return true;
}

}  // namespace resumable
