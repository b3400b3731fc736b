#pragma once
// The one TLS context every client shares: client side, TLS 1.2 only.
#include <boost/asio/ssl/context.hpp>

namespace Marl { namespace Net {

class CTlsClientContext {
public:
    // Created on first use; may throw when OpenSSL cannot create it (callers catch).
    static boost::asio::ssl::context& Get();

    CTlsClientContext();

private:
    boost::asio::ssl::context m_context;
};

}} // namespace Marl::Net
