// winerror.h: Wine's has the WSAE* socket codes but not the name-lookup ones (WSAHOST_NOT_FOUND...), which Asio's
// error.hpp takes from here as with the Windows SDK; spelled exactly as Wine's winsock2.h spells them.
#pragma once
#include_next <winerror.h>
#ifndef WSAHOST_NOT_FOUND
#define WSAHOST_NOT_FOUND          (WSABASEERR + 1001)
#define WSATRY_AGAIN               (WSABASEERR + 1002)
#define WSANO_RECOVERY             (WSABASEERR + 1003)
#define WSANO_DATA                 (WSABASEERR + 1004)
#endif
