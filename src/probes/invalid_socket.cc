// The TCP/HTTP probe over ACE sockets, and the parsers of its answer.
#include "probes/invalid_socket.h"

#include <sys/types.h>

#include <ace/INET_Addr.h>
#include <ace/Message_Block.h>
#include <ace/SOCK_Connector.h>
#include <ace/SOCK_Stream.h>
#include <ace/Time_Value.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "config/address_parsing.h"
#include "platform/os.h"

// Probe lines go to the caller's log when it gave one; every one is at
// level 2.
#define PROBE_LOG(function, ...)                                               \
    do {                                                                       \
        if (m_pLog != nullptr) OW_LOG(m_pLog, 2, (function), __VA_ARGS__);    \
    } while (0)

using outlinkwatch::kProbeBlockSize;
using outlinkwatch::kProbeReceiveMax;
using outlinkwatch::kProbeRequestMax;

namespace {

// ACE's stream does not close its socket when it goes away; this does, on
// every way out of a probe.
class StreamCloser {
public:
    explicit StreamCloser(ACE_SOCK_Stream& stream) : stream_(stream) {}
    ~StreamCloser() { stream_.close(); }
    StreamCloser(const StreamCloser&) = delete;
    StreamCloser& operator=(const StreamCloser&) = delete;

private:
    ACE_SOCK_Stream& stream_;
};

// Appends as much of piece as still fits, keeping the terminating zero.
void AppendBounded(char* buffer, size_t* used, const char* piece) {
    const size_t room = kProbeRequestMax - 1 - *used;
    const size_t n = std::min(std::strlen(piece), room);
    std::memcpy(buffer + *used, piece, n);
    *used += n;
}

// No SIGPIPE when the peer has already gone; Windows has no such signal.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

}  // namespace

int CInvalidSocket::connect(const ACE_INET_Addr& endpoint, const std::list<std::string>& imageIPs) {
    const char* fn = "CInvalidSocket::connect";
    // Time-outs go through the Os, which may shorten them under test.
    auto timeout = [this](uint64_t us) {
        const uint64_t scaled = m_pOs->Clock()->NetworkTimeoutUs(us);
        return ACE_Time_Value(static_cast<time_t>(scaled / 1000000),
                              static_cast<suseconds_t>(scaled % 1000000));
    };
    ACE_SOCK_Connector connector;
    ACE_SOCK_Stream stream;
    StreamCloser closer(stream);
    const ACE_Time_Value connectTimeout = timeout(outlinkwatch::kConnectTimeoutUs);
    const unsigned port = endpoint.get_port_number();

    for (int attempt = 0;; ++attempt) {
        if (m_pStop != nullptr && m_pStop->Exiting()) return PROBE_FAILED;
        if (connector.connect(stream, endpoint, &connectTimeout, ACE_Addr::sap_any) == 0) break;
        stream.close();
        if (attempt == 1) return PROBE_FAILED;
    }

    PROBE_LOG(fn, "The connection port is : %u", port);
    if (port != 80) {
        PROBE_LOG(fn, "***successful ***");
        return PROBE_CONNECTED;
    }

    char host[outlinkwatch::kHostTextMax] = {0};
    if (endpoint.get_host_addr(host, sizeof(host)) == nullptr) host[0] = '\0';
    host[sizeof(host) - 1] = '\0';

    char request[kProbeRequestMax] = {0};
    size_t used = 0;
    for (const char* piece :
         {"GET / HTTP/1.1\r\n",
          "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
          "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n",
          "Accept-Language: zh-cn\r\n", "Accept-Encoding: gzip, deflate\r\n", "UserAgent: Orvex\r\n", "Host: ",
          static_cast<const char*>(host), "\r\n", "Connection: Keep-Alive\r\n\r\n"}) {
        AppendBounded(request, &used, piece);
    }

    {
        ACE_Message_Block sendBlock(kProbeBlockSize);
        // copy() both fills the block and advances its write position.
        if (sendBlock.base() == nullptr || sendBlock.copy(request, used) != 0) return PROBE_FAILED;
        PROBE_LOG(fn, "%s", request);
        const ACE_Time_Value sendTimeout = timeout(outlinkwatch::kSendTimeoutUs);
        // A failed send shows as a receive that gets nothing.
        (void)stream.send(sendBlock.rd_ptr(), sendBlock.length(), kSendFlags, &sendTimeout);
    }

    ACE_Message_Block answer(kProbeBlockSize);
    if (answer.base() == nullptr) return PROBE_FAILED;
    stream.disable(ACE_NONBLOCK);
    const ACE_Time_Value receiveTimeout = timeout(outlinkwatch::kReceiveTimeoutUs);
    const ssize_t received = stream.recv(answer.wr_ptr(), kProbeReceiveMax, &receiveTimeout);
    PROBE_LOG(fn, "The HTTP connection response code is : %d", static_cast<int>(received));

    int status = 0;
    if (received > 0) {
        answer.wr_ptr(static_cast<size_t>(received));
        status = GetResponseCode(answer);
    }
    if (status == 301 || status == 302 || status == 307) {
        const std::string location = GetLocationHost(answer);
        std::list<std::string> addrs;
        if (!ResolveHost(location, addrs) || IsImageIP(addrs, imageIPs)) return PROBE_REDIRECTED;
        PROBE_LOG(fn, "The IP does not belong to the image IP aggregation.");
        return PROBE_CONNECTED;
    }
    PROBE_LOG(fn, "***successful ***");
    return PROBE_CONNECTED;
}

int CInvalidSocket::GetResponseCode(const ACE_Message_Block& block) {
    const char* fn = "CInvalidSocket::GetResponseCode";
    PROBE_LOG(fn, "Start to get the response code!");
    std::string codeText;
    const int code = outlinkwatch::ParseResponseCode(block.rd_ptr(), block.length(), &codeText);
    if (code < 0) return -1;
    PROBE_LOG(fn, "ResponseCode:%s", codeText.c_str());
    return code;
}

std::string CInvalidSocket::GetLocationHost(const ACE_Message_Block& block) {
    return outlinkwatch::ParseLocationHost(block.rd_ptr(), block.length());
}

bool CInvalidSocket::ResolveHost(const std::string& host, std::list<std::string>& addrs) {
    if (host.empty()) return false;
    std::vector<uint32_t> resolved;
    if (!m_pOs->Network()->ResolveHostIPv4(host, &resolved)) return false;
    // A hostile resolver cannot grow the list without bound.
    if (resolved.size() > outlinkwatch::kMaxAddrsPerHost) resolved.resize(outlinkwatch::kMaxAddrsPerHost);
    for (uint32_t addr : resolved) {
        std::string text = outlinkwatch::AddressText(addr);
        if (text == "127.0.0.1" || text == "0.0.0.0") continue;
        addrs.push_back(std::move(text));
    }
    return true;
}

bool CInvalidSocket::IsImageIP(const std::list<std::string>& addrs, const std::list<std::string>& imageIPs) {
    for (const std::string& addr : addrs) {
        const std::string a = outlinkwatch::TrimProbeText(addr);
        for (const std::string& image : imageIPs) {
            if (a == outlinkwatch::TrimProbeText(image)) return true;
        }
    }
    return false;
}
