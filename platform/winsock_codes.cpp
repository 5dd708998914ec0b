#include "platform/winsock_codes.h"

#include <cerrno>
#include <netdb.h>

namespace platform {
namespace {
int32_t FromErrno(int value)
{
    switch (value) {
    case 0:
        return 0;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    // A non-blocking connect still in progress is what Winsock reports as
    // WSAEWOULDBLOCK.
    case EINPROGRESS:
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEALREADY;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    // A send after the peer reset the connection.
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return value;
    }
}

int32_t FromResolver(int error, int errnoValue)
{
    switch (error) {
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
    case EAI_MEMORY:
        return WSA_NOT_ENOUGH_MEMORY;
    case EAI_FAMILY:
        return WSAEAFNOSUPPORT;
    case EAI_SOCKTYPE:
        return WSAESOCKTNOSUPPORT;
    case EAI_SERVICE:
        return WSATYPE_NOT_FOUND;
    case EAI_BADFLAGS:
        return WSAEINVAL;
    case EAI_SYSTEM:
        return errnoValue != 0 ? FromErrno(errnoValue) : WSANO_RECOVERY;
    default:
        return WSANO_RECOVERY;
    }
}
} // namespace

int32_t WinsockCode(int errnoValue, int resolverError)
{
    if (resolverError != 0)
        return FromResolver(resolverError, errnoValue);
    return FromErrno(errnoValue);
}

} // namespace platform
