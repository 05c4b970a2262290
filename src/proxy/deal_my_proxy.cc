#include "proxy/deal_my_proxy.h"

CDealMyProxy::CDealMyProxy(outlinkwatch::Os* os) : m_pOs(os != nullptr ? os : outlinkwatch::CurrentOs()) {
    m_mapProtocol = {{0, "ftp:"}, {1, "http:"}, {2, "https:"}, {3, "gopher:"}, {4, "socks:"}};
    m_mapFireFoxKey = {
        {0, "\"network.proxy.ftp\""},       {1, "\"network.proxy.http\""},      {2, "\"network.proxy.ssl\""},
        {3, "\"network.proxy.gopher\""},    {4, "\"network.proxy.socks\""},     {5, "\"network.proxy.http_port\""},
        {6, "\"network.proxy.ftp_port\""},  {7, "\"network.proxy.gopher_port\""}, {8, "\"network.proxy.socks_port\""},
        {9, "\"network.proxy.ssl_port\""},
    };
}
