#include "request_body.h"
#include "host_files.h"

#include <vector>

size_t RequestBody::Read(BYTE* pb, size_t cb) {
    if (cb > Left()) cb = static_cast<size_t>(Left());
    if (cb == 0 || m_bEnded) return 0;
    const size_t cbRead = ReadUpTo(m_h, reinterpret_cast<char*>(pb), cb);
    m_cbTaken += cbRead;
    if (cbRead < cb) m_bEnded = true;
    return cbRead;
}

bool RequestBody::Drain() {
    if (Left() == 0) return true;
    std::vector<BYTE> sink(1 << 16);
    while (Left() > 0 && Read(sink.data(), sink.size()) > 0) {
    }
    return Left() == 0;
}
