#include "Communication/ModbusComm/TCP/Private/TlsClientContext.h"

#include <openssl/ssl.h>

#include <stdexcept>

#include "Common/LazySingleton.h"

namespace Marl { namespace Net {

CTlsClientContext::CTlsClientContext() : m_context(boost::asio::ssl::context::tls_client)
{
    if (SSL_CTX_set_min_proto_version(m_context.native_handle(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(m_context.native_handle(), TLS1_2_VERSION) != 1) {
        throw std::runtime_error("TLS 1.2 not available");
    }
}

boost::asio::ssl::context& CTlsClientContext::Get()
{
    return iobox::LazySingleton<CTlsClientContext>::Instance()->m_context;
}

}} // namespace Marl::Net
