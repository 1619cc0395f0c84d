/*
 * sockets.h - the socket calls that differ between Winsock and POSIX
 * systems, for the editor link and the programs that test it. Include it
 * instead of the systems' socket headers.
 */
#ifndef SYNC_SOCKETS_H
#define SYNC_SOCKETS_H

#include "sync.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef _WIN32
typedef WSAPOLLFD sync_pollfd;
/* Winsock raises no signal when the peer has gone. */
#define SYNC_SEND_FLAGS 0
#else
typedef struct pollfd sync_pollfd;
#ifdef MSG_NOSIGNAL
#define SYNC_SEND_FLAGS MSG_NOSIGNAL /* a vanished peer must not kill us */
#else
#define SYNC_SEND_FLAGS 0
#endif
#endif

/* Starts the socket library for this process, once; retried until it
 * works. Returns 0 on success, -1 on failure. */
static inline int sync_socket_startup(void) {
#ifdef _WIN32
    static int started = 0;
    WSADATA wsa;
    if (!started && WSAStartup(MAKEWORD(2, 2), &wsa) == 0)
        started = 1;
    return started ? 0 : -1;
#else
    return 0;
#endif
}

/* Closes the socket. */
static inline void sync_socket_close(sync_socket s) {
#ifdef _WIN32
    closesocket((SOCKET)s);
#else
    close(s);
#endif
}

/* Makes calls on the socket return at once instead of waiting. Returns 0 on
 * success. */
static inline int sync_socket_set_nonblocking(sync_socket s) {
#ifdef _WIN32
    u_long one = 1;
    return ioctlsocket((SOCKET)s, FIONBIO, &one) == 0 ? 0 : -1;
#else
    int flags = fcntl(s, F_GETFL);
    return flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0 ? -1 : 0;
#endif
}

/* Whether the last failed call on a non-blocking socket only means "not
 * now": nothing to read, no room to write, or a connection in progress. */
static inline int sync_socket_would_block(void) {
#ifdef _WIN32
    int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS;
#endif
}

/* Whether the last failed call was interrupted by a signal (never on
 * Windows), and is to be repeated. */
static inline int sync_socket_interrupted(void) {
#ifdef _WIN32
    return 0;
#else
    return errno == EINTR;
#endif
}

/* poll(2) on sockets. */
static inline int sync_poll(sync_pollfd* fds, unsigned long count, int timeout_ms) {
#ifdef _WIN32
    return WSAPoll(fds, count, timeout_ms);
#else
    return poll(fds, (nfds_t)count, timeout_ms);
#endif
}

#endif /* SYNC_SOCKETS_H */
