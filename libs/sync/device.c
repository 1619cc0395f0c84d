/*
 * device.c - the sync device: its tracks, their track files and the link to
 * the editor.
 */
#if defined(__linux__) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* getaddrinfo, fsync, clock_gettime, MSG_NOSIGNAL */
#endif

#include "files.h"
#include "sockets.h"
#include "sync.h"

#include <assert.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#include <io.h>
#ifndef S_ISDIR
#define S_ISDIR(m) (((m)&_S_IFMT) == _S_IFDIR)
#endif
#endif

static const char CLIENT_GREET[] = "hello, synctracker!";
static const char SERVER_GREET[] = "hello, demo!";

/* Longest path (and encoded name) in characters, without the terminator. */
#define SYNC_PATH_MAX 259
/* Longest name of one directory entry that file systems commonly take. */
#define SYNC_NAME_MAX 255

/* ------------------------------------------------------------------------
 * Byte order helpers
 * ------------------------------------------------------------------------ */

/* Stores v little-endian at p. */
static void put_le32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

/* Returns the little-endian 32-bit value at p. */
static uint32_t get_le32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* Stores v big-endian (network order) at p. */
static void put_be32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

/* Returns the big-endian 32-bit value at p. */
static uint32_t get_be32(const unsigned char* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

/* Returns the signed value of the two's complement bits u. */
static int32_t to_int32(uint32_t u) {
    return u <= INT32_MAX ? (int32_t)u : (int32_t)(u - INT32_MAX - 1) + INT32_MIN;
}

/* Returns the float whose IEEE-754 bits are u. */
static float to_float(uint32_t u) {
    float f;
    memcpy(&f, &u, sizeof(f));
    return f;
}

/* Returns the IEEE-754 bits of f. */
static uint32_t from_float(float f) {
    uint32_t u;
    memcpy(&u, &f, sizeof(u));
    return u;
}

/* ------------------------------------------------------------------------
 * Track file names
 * ------------------------------------------------------------------------ */

/* Returns whether the byte c passes into a file name unchanged. */
static int valid_path_char(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '/' || c == '_';
}

/* Encodes text for use in a file name, into a buffer the next call
 * overwrites. Stops silently at the first byte that no longer fits. */
static const char* path_encode(const char* text) {
    static const char hex[] = "0123456789ABCDEF";
    static char out[SYNC_PATH_MAX + 1];
    size_t pos = 0;

    for (; *text; text++) {
        unsigned char c = (unsigned char)*text;
        if (valid_path_char(c)) {
            if (pos >= SYNC_PATH_MAX)
                break;
            out[pos++] = (char)c;
        } else {
            if (pos >= SYNC_PATH_MAX - 2)
                break;
            out[pos++] = '-';
            out[pos++] = hex[c >> 4];
            out[pos++] = hex[c & 0xF];
        }
    }
    out[pos] = '\0';
    return out;
}

/* Appends as much of text to the string in buf (of SYNC_PATH_MAX + 1 bytes)
 * as fits. */
static void path_append(char* buf, const char* text) {
    size_t len = strlen(buf);
    size_t room = SYNC_PATH_MAX - len;
    size_t n = strlen(text);
    if (n > room)
        n = room;
    memcpy(buf + len, text, n);
    buf[len + n] = '\0';
}

/* Returns why the track of that name can have no track file of its own
 * under base, or NULL when it can: the file must lie inside the working
 * directory and keep its whole name, ".track" included, within the limits
 * of the buffers and of the file system. */
static const char* track_name_fault(const char* base, const char* name) {
    const char* slash = strrchr(base, '/');
    const char* part = name;
    size_t total = strlen(base) + 1;
    size_t entry = strlen(slash ? slash + 1 : base) + 1;
    const char* p;

    if (name[0] == '/')
        return "is an absolute path";
    for (p = name;; p++) {
        unsigned char c = (unsigned char)*p;
        if (c == '/' || c == '\0') {
            if (p - part == 2 && part[0] == '.' && part[1] == '.')
                return "has a \"..\" component";
            if (c == '\0')
                break;
            if (entry > SYNC_NAME_MAX)
                return "is too long for a file name";
            part = p + 1;
            entry = 0;
            total++;
        } else if (c < 0x20 || c == 0x7F) {
            return "holds a control character";
        } else {
            entry += valid_path_char(c) ? 1 : 3;
            total += valid_path_char(c) ? 1 : 3;
        }
    }
    if (entry + 6 > SYNC_NAME_MAX || total + 6 > SYNC_PATH_MAX)
        return "is too long for a file name";
    return NULL;
}

/* ------------------------------------------------------------------------
 * Track files
 * ------------------------------------------------------------------------ */

/* Creates every missing directory on the way to the file at path, looking
 * only at the separators from offset from on (the device's folder before it
 * must exist). */
static int create_leading_dirs(const char* path, size_t from) {
    char* buf = malloc(strlen(path) + 1);
    char* sep;
    int result = 0;
    if (!buf)
        return -1;
    strcpy(buf, path);

    for (sep = strchr(buf + from, '/'); sep; sep = strchr(sep + 1, '/')) {
        int kind;
        *sep = '\0';
        kind = sync_path_kind(buf);
        if ((kind < 0 && sync_make_dir(buf) != 0 && sync_path_kind(buf) != 1) || kind == 0) {
            result = -1;
            break;
        }
        *sep = '/';
    }
    free(buf);
    return result;
}

/* Returns the path of the track file of name under the device's folder, in
 * memory the caller frees (null when memory runs out); *below is set to the
 * offset where the part below the folder starts. */
static char* device_track_path(const sync_device* d, const char* name, size_t* below) {
    const char* relative = sync_track_path(d->base, name);
    size_t prefix = d->folder ? strlen(d->folder) : 0;
    int slash = prefix > 0 && d->folder[prefix - 1] != '/';
    char* path = malloc(prefix + slash + strlen(relative) + 1);
    if (!path)
        return NULL;
    path[0] = '\0';
    if (d->folder)
        strcpy(path, d->folder);
    if (slash)
        strcat(path, "/");
    prefix += slash;
    strcat(path, relative);
    *below = prefix;
    return path;
}

/* Returns a malloc'd copy of the first len bytes of text, or NULL. */
static char* copy_text(const char* text, size_t len) {
    char* copy = malloc(len + 1);
    if (copy) {
        memcpy(copy, text, len);
        copy[len] = '\0';
    }
    return copy;
}

/* Removes the file at path; a directory there stays. */
static int remove_file(const char* path) {
#ifdef _WIN32
    return sync_remove(path);
#else
    return unlink(path);
#endif
}

/* Returns the file a save of path writes: path itself, or, when path is a
 * symbolic link (or a chain of them), the file it finally points at, so
 * that a save replaces the target and keeps the link. The result is
 * malloc'd; NULL when memory runs out or the links loop. */
static char* resolve_links(const char* path) {
    char* current = copy_text(path, strlen(path));
#ifndef _WIN32
    int hops;
    for (hops = 0; current && hops < 40; hops++) {
        char target[4096];
        const char* slash;
        char* next;
        struct stat st;
        ssize_t n;

        if (lstat(current, &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        n = readlink(current, target, sizeof(target));
        if (n <= 0 || (size_t)n >= sizeof(target))
            break;
        /* a relative target is relative to the link's own directory */
        slash = strrchr(current, '/');
        if (target[0] == '/' || !slash) {
            next = copy_text(target, (size_t)n);
        } else {
            size_t dir = (size_t)(slash - current) + 1;
            next = malloc(dir + (size_t)n + 1);
            if (next) {
                memcpy(next, current, dir);
                memcpy(next + dir, target, (size_t)n);
                next[dir + (size_t)n] = '\0';
            }
        }
        free(current);
        current = next;
    }
    free(current);
    return NULL;
#else
    return current;
#endif
}

/* Returns the temporary name under which a save writes the file at path
 * first: path with its last character replaced by "~". It is never longer
 * than the final name, so a name the file system takes keeps fitting; it is
 * never a track file's name (those end in ".track"); and it is the same on
 * every save, so the file a killed save left behind is found and removed
 * by the next one. The result is malloc'd, or NULL. */
static char* temp_path(const char* path) {
    size_t len = strlen(path);
    char* temp = copy_text(path, len);
    assert(len > 0);
    if (temp)
        temp[len - 1] = temp[len - 1] == '~' ? '#' : '~';
    return temp;
}

/* Returns the track's keys in the track file format, malloc'd, with their
 * size in *size; NULL when memory runs out. */
static unsigned char* encode_track(const sync_track* t, size_t* size) {
    unsigned char *data, *p;
    int i;

    *size = 4 + 9 * (size_t)t->key_count;
    data = malloc(*size);
    if (!data)
        return NULL;
    put_le32(data, (uint32_t)t->key_count);
    for (i = 0, p = data + 4; i < t->key_count; i++, p += 9) {
        put_le32(p, (uint32_t)t->keys[i].row);
        put_le32(p + 4, from_float(t->keys[i].value));
        p[8] = (unsigned char)t->keys[i].type;
    }
    return data;
}

/* Creates the file at path, which must not exist yet, with the bytes of
 * data and, when mode is not negative, those permission bits (else the
 * usual ones for a new file), and puts it on the disk. */
static int write_new_file(const char* path, const unsigned char* data, size_t size, int mode) {
#ifdef _WIN32
    FILE* file = sync_fopen(path, "wb");
    int ok;
    (void)mode;
    if (!file)
        return -1;
    ok = fwrite(data, 1, size, file) == size && fflush(file) == 0 && _commit(_fileno(file)) == 0;
    ok = (fclose(file) == 0) && ok;
    return ok ? 0 : -1;
#else
    /* O_EXCL: a link planted under the temporary name is not followed */
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, mode < 0 ? 0666 : 0600);
    int ok = 1;
    if (fd < 0)
        return -1;
    while (ok && size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            data += n;
            size -= (size_t)n;
        }
    }
    ok = ok && (mode < 0 || fchmod(fd, (mode_t)mode) == 0);
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    return ok ? 0 : -1;
#endif
}

/* Returns the permission bits of the file at path, or -1 when there is
 * none. */
static int file_mode(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0)
        return -1;
    return (int)(st.st_mode & 07777);
}

/* Moves the file from over the file to, atomically where the system can,
 * and puts the directory entry on the disk. */
static int replace_file(const char* from, const char* to) {
#ifdef _WIN32
    return sync_replace_file(from, to);
#else
    const char* slash = strrchr(to, '/');
    char* dir;
    int fd, ret;

    if (rename(from, to) != 0)
        return -1;
    dir = slash ? copy_text(to, (size_t)(slash - to) + 1) : copy_text(".", 1);
    if (!dir)
        return -1;
    fd = open(dir, O_RDONLY);
    free(dir);
    if (fd < 0)
        return -1;
    ret = fsync(fd);
    /* some file systems cannot sync a directory; the rename stands */
    if (ret != 0 && errno == EINVAL)
        ret = 0;
    close(fd);
    return ret;
#endif
}

/* Writes the track to the file at path. The keys go to a temporary file
 * beside the file first, which replaces it only once every byte is written
 * and on the disk: a failure leaves the old file as it was. A path that is
 * a symbolic link is written through to its target, and the file keeps its
 * permissions. */
static int save_track(const sync_track* t, const char* path, size_t below) {
    unsigned char* data;
    char *target = NULL, *temp = NULL;
    size_t size;
    int ret = -1;

    if (create_leading_dirs(path, below))
        return -1;
    data = encode_track(t, &size);
    if (data)
        target = resolve_links(path);
    if (target)
        temp = temp_path(target);
    if (temp) {
        remove_file(temp); /* left behind by a save that was killed */
        ret = write_new_file(temp, data, size, file_mode(target));
        if (ret == 0)
            ret = replace_file(temp, target);
        if (ret != 0)
            remove_file(temp);
    }
    free(temp);
    free(target);
    free(data);
    return ret;
}

/* Loads the track's keys from its track file. The whole file is checked
 * before the track takes any key: a file that is not exactly 4 + 9*N bytes
 * long for its own count N, or whose rows do not ascend, leaves the track
 * empty. A zero-length file is an empty track. */
static int read_track_data(sync_device* d, sync_track* t) {
    unsigned char buf[9];
    struct track_key* keys = NULL;
    long size;
    int32_t count;
    int i;
    size_t below;
    char* path = device_track_path(d, t->name, &below);
    FILE* file = path ? d->io.open(path, "rb") : NULL;
    free(path);
    if (!file)
        return -1;

    if (fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) < 0 || fseek(file, 0, SEEK_SET) != 0)
        goto fail;
    if (size == 0) {
        d->io.close(file);
        return 0;
    }
    if (size < 4 || (size - 4) % 9 != 0 || (size - 4) / 9 > INT_MAX)
        goto fail;
    if (d->io.read(buf, 1, 4, file) != 4)
        goto fail;
    count = to_int32(get_le32(buf));
    if (count != (size - 4) / 9)
        goto fail;

    if (count > 0) {
        keys = malloc(sizeof(*keys) * (size_t)count);
        if (!keys)
            goto fail;
    }
    for (i = 0; i < count; i++) {
        if (d->io.read(buf, 1, 9, file) != 9)
            goto fail;
        keys[i].row = to_int32(get_le32(buf));
        keys[i].value = to_float(get_le32(buf + 4));
        keys[i].type = buf[8] < KEY_TYPE_COUNT ? (enum key_type)buf[8] : KEY_STEP;
        if (i > 0 && keys[i].row <= keys[i - 1].row)
            goto fail;
    }
    d->io.close(file);

    sync_clear_keys(t);
    t->keys = keys;
    t->key_count = count;
    t->key_room = count;
    return 0;

fail:
    free(keys);
    d->io.close(file);
    return -1;
}

/* ------------------------------------------------------------------------
 * Sockets
 *
 * Every socket of the link is non-blocking: the frame that pumps the link
 * never waits for the editor longer than the short bounds below, and a
 * message whose fields have not all arrived waits in the device's input
 * buffer for a later frame.
 * ------------------------------------------------------------------------ */

/* How long a peer may stay silent while it owes us something (the answer
 * to a connection attempt, the greeting, the rest of a started message). */
#define SILENCE_MS 2000
/* How long the call that starts a connection attempt waits for it. */
#define CONNECT_WAIT_MS 20
/* How long a send waits for room in a full send buffer. */
#define SEND_WAIT_MS 20
/* How long sync_update spends on commands by default. */
#define UPDATE_BUDGET_MS 10

/* Where a connection attempt stands. */
enum {
    ATTEMPT_NONE,
    ATTEMPT_CONNECTING, /* waiting for the TCP connection */
    ATTEMPT_GREETING    /* greeting sent, waiting for the editor's */
};

/* The link's private state behind sync_device.net. */
struct sync_link {
    int state;  /* ATTEMPT_* of the connection attempt */
    char* host; /* the attempt's host and port */
    unsigned short port;
    struct addrinfo* addrs; /* the host's addresses ... */
    struct addrinfo* next;  /* ... and the next one to try */
    int64_t heard;          /* when the peer last answered (ms) */
    unsigned char in[4096]; /* received, not yet handled: [start, end) */
    size_t start, end;
};

/* Returns a steady clock in milliseconds. */
static int64_t now_ms(void) {
#ifdef _WIN32
    return (int64_t)GetTickCount64();
#else
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
#endif
}

/* Returns whether the last socket call failed only because it would have
 * had to wait (or was interrupted, which is retried the same way). */
static int socket_would_wait(void) {
    return sync_socket_would_block() || sync_socket_interrupted();
}

/* Waits up to timeout_ms (0: not at all) until the socket can be read
 * (want_write 0) or written (1). A closed or failed connection counts as
 * ready, so that the next call on the socket reports it. */
static int socket_wait(sync_socket s, int want_write, int timeout_ms) {
#ifdef _WIN32
    struct timeval to;
    fd_set fds, errs;
    FD_ZERO(&fds);
    FD_SET(s, &fds);
    FD_ZERO(&errs);
    FD_SET(s, &errs);
    to.tv_sec = timeout_ms / 1000;
    to.tv_usec = (timeout_ms % 1000) * 1000;
    return select(0, want_write ? NULL : &fds, want_write ? &fds : NULL, &errs, &to) > 0;
#else
    int64_t deadline = now_ms() + timeout_ms;
    struct pollfd pfd;
    pfd.fd = s;
    pfd.events = want_write ? POLLOUT : POLLIN;
    for (;;) {
        int left = (int)(deadline - now_ms());
        int n;
        pfd.revents = 0;
        n = poll(&pfd, 1, left > 0 ? left : 0);
        if (n >= 0 || errno != EINTR)
            return n > 0;
        if (left <= 0)
            return 0;
    }
#endif
}

/* Makes the socket non-blocking and lets small messages (a row report)
 * leave at once instead of waiting for the last one's acknowledgement. */
static int socket_prepare(sync_socket s) {
    int one = 1;
    if (sync_socket_set_nonblocking(s) != 0)
        return -1;
#ifdef SO_NOSIGPIPE
    setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof(one));
#endif
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&one, sizeof(one));
    return 0;
}

/* Sends exactly len bytes, waiting at most SEND_WAIT_MS for room when the
 * peer does not read. Returns 0 when all of them went out. */
static int xsend(sync_socket s, const void* buf, size_t len) {
    const char* p = buf;
    int64_t deadline = now_ms() + SEND_WAIT_MS;
    assert(len <= INT_MAX);
    while (len > 0) {
#ifdef _WIN32
        int n = send(s, p, (int)len, 0);
#else
        ssize_t n = send(s, p, len, SYNC_SEND_FLAGS);
#endif
        if (n > 0) {
            p += n;
            len -= (size_t)n;
            continue;
        }
        if (n == 0 || !socket_would_wait())
            return -1;
        if (now_ms() >= deadline || !socket_wait(s, 1, (int)(deadline - now_ms())))
            return -1;
    }
    return 0;
}

/* Receives whatever has arrived, without waiting, into the input buffer.
 * Returns the number of bytes received, or -1 when the connection was
 * closed or failed before any byte came. */
static long xrecv(sync_socket s, struct sync_link* n) {
    long total = 0;
    if (n->start > 0) {
        memmove(n->in, n->in + n->start, n->end - n->start);
        n->end -= n->start;
        n->start = 0;
    }
    while (n->end < sizeof(n->in)) {
#ifdef _WIN32
        int got = recv(s, (char*)n->in + n->end, (int)(sizeof(n->in) - n->end), 0);
#else
        ssize_t got = recv(s, n->in + n->end, sizeof(n->in) - n->end, 0);
        if (got < 0 && errno == EINTR)
            continue;
#endif
        if (got > 0) {
            n->end += (size_t)got;
            total += (long)got;
            continue;
        }
        /* a closure or failure right behind data is reported by the
		 * next call, once the data has been handled */
        if ((got == 0 || !socket_would_wait()) && total == 0)
            return -1;
        break;
    }
    if (total > 0)
        n->heard = now_ms();
    return total;
}

/* Closes the editor link, if any, and forgets what it left unhandled. */
static void close_link(sync_device* d) {
    if (d->link != SYNC_INVALID_SOCKET) {
        sync_socket_close(d->link);
        d->link = SYNC_INVALID_SOCKET;
    }
    d->net->start = d->net->end = 0;
}

/* ------------------------------------------------------------------------
 * Connection attempts
 *
 * An attempt tries the host's addresses in the resolver's order: connect,
 * send the greeting, receive the editor's. It moves on whenever the frame
 * asks (sync_tcp_connect), without waiting, and gives up on an address that
 * stays silent for SILENCE_MS, so a host that drops packets or a server
 * that never greets holds no frame.
 * ------------------------------------------------------------------------ */

/* Abandons the attempt under way, if any. */
static void attempt_end(sync_device* d) {
    struct sync_link* n = d->net;
    if (d->pending != SYNC_INVALID_SOCKET) {
        sync_socket_close(d->pending);
        d->pending = SYNC_INVALID_SOCKET;
    }
    if (n->addrs)
        freeaddrinfo(n->addrs);
    free(n->host);
    n->addrs = n->next = NULL;
    n->host = NULL;
    n->state = ATTEMPT_NONE;
}

/* Sends the greeting on the connected socket of the attempt. */
static int attempt_greet(sync_device* d) {
    struct sync_link* n = d->net;
    n->state = ATTEMPT_GREETING;
    n->heard = now_ms();
    n->start = n->end = 0;
    return xsend(d->pending, CLIENT_GREET, sizeof(CLIENT_GREET) - 1);
}

/* Opens a socket to the next address that takes one; leaves the attempt
 * without a socket when none is left. */
static void attempt_next_address(sync_device* d) {
    struct sync_link* n = d->net;
    if (d->pending != SYNC_INVALID_SOCKET) {
        sync_socket_close(d->pending);
        d->pending = SYNC_INVALID_SOCKET;
    }
    while (n->next && d->pending == SYNC_INVALID_SOCKET) {
        struct addrinfo* a = n->next;
        sync_socket s = socket(a->ai_family, SOCK_STREAM, 0);
        n->next = a->ai_next;
        if (s == SYNC_INVALID_SOCKET)
            continue;
        if (socket_prepare(s) != 0) {
            sync_socket_close(s);
            continue;
        }
        if (connect(s, a->ai_addr, (socklen_t)a->ai_addrlen) != 0 && !socket_would_wait()) {
            sync_socket_close(s);
            continue;
        }
        d->pending = s;
        n->state = ATTEMPT_CONNECTING;
        n->heard = now_ms();
    }
}

/* Resolves host and starts an attempt at its first address. */
static int attempt_begin(sync_device* d, const char* host, unsigned short port) {
    struct sync_link* n = d->net;
    struct addrinfo hints;
    char service[6];

    if (sync_socket_startup())
        return -1;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    snprintf(service, sizeof(service), "%u", (unsigned)port);
    if (getaddrinfo(host, service, &hints, &n->addrs) != 0) {
        n->addrs = NULL;
        return -1;
    }
    n->host = malloc(strlen(host) + 1);
    if (!n->host) {
        attempt_end(d);
        return -1;
    }
    strcpy(n->host, host);
    n->port = port;
    n->next = n->addrs;
    attempt_next_address(d);
    return 0;
}

/* Checks the editor's greeting as far as it has arrived. Returns 1 when it
 * is complete, 0 while more is due, -1 when it is wrong or the peer left. */
static int attempt_check_greeting(sync_device* d) {
    struct sync_link* n = d->net;
    size_t want = sizeof(SERVER_GREET) - 1;
    size_t got;
    if (xrecv(d->pending, n) < 0)
        return -1;
    got = n->end < want ? n->end : want;
    if (memcmp(n->in, SERVER_GREET, got) != 0)
        return -1;
    if (got < want)
        return 0;
    n->start = want; /* what follows is the editor's first messages */
    return 1;
}

/* Moves the attempt on as far as it goes without waiting. Returns 1 once
 * the editor has greeted (the socket is then d->pending), 0 while the
 * attempt goes on, -1 when every address has failed. */
static int attempt_step(sync_device* d) {
    struct sync_link* n = d->net;
    while (d->pending != SYNC_INVALID_SOCKET) {
        int result = 0;
        if (n->state == ATTEMPT_CONNECTING) {
            int err = 0;
            socklen_t len = sizeof(err);
            if (!socket_wait(d->pending, 1, 0)) {
                result = 0;
            } else if (getsockopt(d->pending, SOL_SOCKET, SO_ERROR, (char*)&err, &len) != 0 ||
                       err != 0) {
                result = -1;
            } else if (attempt_greet(d) == 0) {
                continue;
            } else {
                result = -1;
            }
        } else {
            result = attempt_check_greeting(d);
            if (result > 0)
                return 1;
        }
        if (result == 0 && now_ms() - n->heard < SILENCE_MS)
            return 0;
        attempt_next_address(d);
    }
    return -1;
}

/* Runs the attempt for up to wait_ms. Returns as attempt_step. */
static int attempt_run(sync_device* d, int wait_ms) {
    int64_t deadline = now_ms() + wait_ms;
    for (;;) {
        int result = attempt_step(d);
        int left = (int)(deadline - now_ms());
        if (result != 0 || left <= 0)
            return result;
        socket_wait(d->pending, d->net->state == ATTEMPT_CONNECTING, left);
    }
}

/* ------------------------------------------------------------------------
 * Editor commands
 * ------------------------------------------------------------------------ */

/* Asks the editor for the track's keys. Drops the link when that fails. */
static int fetch_track_data(sync_device* d, sync_track* t) {
    size_t len = strlen(t->name);
    unsigned char* msg;
    int ret;

    assert(len <= INT_MAX);
    msg = malloc(5 + len);
    if (!msg) {
        close_link(d);
        return -1;
    }
    msg[0] = GET_TRACK;
    put_be32(msg + 1, (uint32_t)len);
    memcpy(msg + 5, t->name, len);
    ret = xsend(d->link, msg, 5 + len);
    free(msg);
    if (ret) {
        close_link(d);
        return -1;
    }
    return 0;
}

/* Returns the length of the message that starts with the command code, the
 * code included, or 0 for a code that is not the editor's. */
static size_t message_size(unsigned char cmd) {
    switch (cmd) {
    case SET_KEY:
        return 14;
    case DELETE_KEY:
        return 9;
    case SET_ROW:
        return 5;
    case PAUSE:
        return 2;
    case SAVE_TRACKS:
        return 1;
    default:
        return 0;
    }
}

/* Applies the fields of a SET_KEY (track index, row, value, type). Fails on
 * a bad track index or key type. */
static int handle_set_key_cmd(sync_device* d, const unsigned char* msg) {
    struct track_key key;
    uint32_t idx = get_be32(msg);

    if (msg[12] >= KEY_TYPE_COUNT || idx >= (uint32_t)d->track_count)
        return -1;

    key.row = to_int32(get_be32(msg + 4));
    key.value = to_float(get_be32(msg + 8));
    key.type = (enum key_type)msg[12];
    return sync_set_key(d->tracks[idx], key);
}

/* Applies the fields of a DELETE_KEY. Fails on a bad track index; a row that
 * holds no key is left alone and the link stays up. */
static int handle_del_key_cmd(sync_device* d, const unsigned char* msg) {
    uint32_t idx = get_be32(msg);
    int32_t r;

    if (idx >= (uint32_t)d->track_count)
        return -1;

    r = to_int32(get_be32(msg + 4));
    if (sync_find_key(d->tracks[idx], r) < 0)
        return 0;
    return sync_del_key(d->tracks[idx], r);
}

/* Carries out one complete message (code byte first). */
static int handle_command(sync_device* d, const unsigned char* msg, const sync_cb* cb,
                          void* cb_param) {
    switch (msg[0]) {
    case SET_KEY:
        return handle_set_key_cmd(d, msg + 1);
    case DELETE_KEY:
        return handle_del_key_cmd(d, msg + 1);
    case SET_ROW:
        if (cb && cb->set_row)
            cb->set_row(cb_param, to_int32(get_be32(msg + 1)));
        return 0;
    case PAUSE:
        if (cb && cb->pause)
            cb->pause(cb_param, msg[1]);
        return 0;
    default:
        assert(msg[0] == SAVE_TRACKS);
        sync_save_tracks(d);
        return 0;
    }
}

/* Applies the messages that have arrived, in order, until none is left or
 * the time budget is spent. Returns 0, or -1 on a link error. */
static int pump_commands(sync_device* d, const sync_cb* cb, void* cb_param) {
    struct sync_link* n = d->net;
    int64_t deadline = now_ms() + (int64_t)d->update_budget_ms;
    for (;;) {
        size_t have = n->end - n->start;
        size_t size = have ? message_size(n->in[n->start]) : 1;
        if (size == 0) {
            fprintf(stderr, "unknown cmd: %02x\n", n->in[n->start]);
            return -1;
        }
        if (have >= size) {
            const unsigned char* msg = n->in + n->start;
            n->start += size;
            if (handle_command(d, msg, cb, cb_param))
                return -1;
            if (d->update_budget_ms && now_ms() >= deadline)
                return 0;
            continue;
        }
        {
            long got = xrecv(d->link, n);
            if (got < 0)
                return -1;
            if (got == 0)
                break;
        }
    }
    /* a message cut short by a peer that went quiet */
    if (n->end > n->start && now_ms() - n->heard >= SILENCE_MS)
        return -1;
    return 0;
}

/* ------------------------------------------------------------------------
 * Tracks of a device
 * ------------------------------------------------------------------------ */

/* Returns the index of the track of that name, or -1. */
static int find_track(const sync_device* d, const char* name) {
    int i;
    for (i = 0; i < d->track_count; i++)
        if (strcmp(name, d->tracks[i]->name) == 0)
            return i;
    return -1;
}

/* Appends a new, empty track of that name. Returns its index, or -1 with
 * nothing appended. */
static int create_track(sync_device* d, const char* name) {
    sync_track** tracks;
    sync_track* t;
    size_t len = strlen(name);

    assert(find_track(d, name) < 0);

    t = malloc(sizeof(*t));
    if (!t)
        return -1;
    t->name = malloc(len + 1);
    if (!t->name) {
        free(t);
        return -1;
    }
    memcpy(t->name, name, len + 1);
    t->keys = NULL;
    t->key_count = 0;
    t->key_front = 0;
    t->key_room = 0;

    tracks = realloc(d->tracks, sizeof(*tracks) * ((size_t)d->track_count + 1));
    if (!tracks) {
        free(t->name);
        free(t);
        return -1;
    }
    d->tracks = tracks;
    d->tracks[d->track_count] = t;
    return d->track_count++;
}

/* ------------------------------------------------------------------------
 * Public functions
 * ------------------------------------------------------------------------ */

const char* sync_track_path(const char* base, const char* name) {
    static char path[SYNC_PATH_MAX + 1];
    path[0] = '\0';
    path_append(path, base);
    path_append(path, "_");
    path_append(path, path_encode(name));
    path_append(path, ".track");
    return path;
}

sync_device* sync_create_device(const char* base) {
    sync_device* d;
    const char* encoded;
    size_t len;

    if (!base || base[0] == '/')
        return NULL;

    d = malloc(sizeof(*d));
    if (!d)
        return NULL;
    d->net = calloc(1, sizeof(*d->net));
    if (!d->net) {
        free(d);
        return NULL;
    }

    encoded = path_encode(base);
    len = strlen(encoded);
    d->base = malloc(len + 1);
    if (!d->base) {
        free(d->net);
        free(d);
        return NULL;
    }
    memcpy(d->base, encoded, len + 1);
    d->folder = NULL;

    d->tracks = NULL;
    d->track_count = 0;
    d->last_row = -1;
    d->link = SYNC_INVALID_SOCKET;
    d->pending = SYNC_INVALID_SOCKET;
    d->update_budget_ms = UPDATE_BUDGET_MS;
    d->io.open = sync_fopen;
    d->io.read = fread;
    d->io.close = fclose;
    return d;
}

void sync_destroy_device(sync_device* d) {
    int i;
    if (!d)
        return;

    close_link(d);
    attempt_end(d);
    for (i = 0; i < d->track_count; i++) {
        free(d->tracks[i]->name);
        sync_clear_keys(d->tracks[i]);
        free(d->tracks[i]);
    }
    free(d->tracks);
    free(d->base);
    free(d->folder);
    free(d->net);
    free(d);
}

int sync_set_folder(sync_device* d, const char* folder) {
    char* copy = NULL;
    if (!d)
        return -1;
    if (folder && folder[0]) {
        copy = malloc(strlen(folder) + 1);
        if (!copy)
            return -1;
        strcpy(copy, folder);
    }
    free(d->folder);
    d->folder = copy;
    return 0;
}

sync_track* sync_get_track(sync_device* d, const char* name) {
    sync_track* t;
    int idx;

    if (!d || !name)
        return NULL;

    idx = find_track(d, name);
    if (idx >= 0)
        return d->tracks[idx];

    idx = create_track(d, name);
    if (idx < 0)
        return NULL;
    t = d->tracks[idx];

    if (d->link == SYNC_INVALID_SOCKET)
        read_track_data(d, t);
    else
        fetch_track_data(d, t);
    return t;
}

int sync_load_track(sync_device* d, sync_track* t) {
    if (!d || !t)
        return -1;
    return read_track_data(d, t);
}

int sync_save_tracks(const sync_device* d) {
    int i;
    if (!d)
        return -1;
    for (i = 0; i < d->track_count; i++) {
        const sync_track* t = d->tracks[i];
        size_t below;
        char* path =
            track_name_fault(d->base, t->name) ? NULL : device_track_path(d, t->name, &below);
        int failed = !path || save_track(t, path, below);
        free(path);
        if (failed)
            return -1;
    }
    return 0;
}

const char* sync_track_name_fault(const char* base, const char* name) {
    if (!base || !name)
        return "is missing";
    return track_name_fault(path_encode(base), name);
}

int sync_tcp_connect(sync_device* d, const char* host, unsigned short port) {
    struct sync_link* n;
    int result, i;
    if (!d || !host)
        return -1;

    n = d->net;
    if (n->state != ATTEMPT_NONE && n->port == port && strcmp(n->host, host) == 0) {
        result = attempt_run(d, 0);
    } else {
        close_link(d);
        attempt_end(d);
        if (attempt_begin(d, host, port))
            return -1;
        result = attempt_run(d, CONNECT_WAIT_MS);
    }
    if (result == 0)
        return -1; /* still under way: the next call carries it on */
    if (result < 0) {
        attempt_end(d);
        return -1;
    }
    d->link = d->pending;
    d->pending = SYNC_INVALID_SOCKET;
    attempt_end(d);

    /* the editor is the source of the keys from now on */
    for (i = 0; i < d->track_count; i++)
        sync_clear_keys(d->tracks[i]);

    for (i = 0; i < d->track_count; i++)
        if (fetch_track_data(d, d->tracks[i]))
            return -1;
    return 0;
}

int sync_connect(sync_device* d, const char* host, unsigned short port) {
    return sync_tcp_connect(d, host, port);
}

int sync_update(sync_device* d, int row, const sync_cb* cb, void* cb_param) {
    if (!d || d->link == SYNC_INVALID_SOCKET)
        return -1;

    /* apply the pending commands, in arrival order */
    if (pump_commands(d, cb, cb_param))
        goto link_error;

    /* then tell the editor where the music is, once per new row */
    if (cb && cb->is_playing && cb->is_playing(cb_param)) {
        if (d->last_row != row && d->link != SYNC_INVALID_SOCKET) {
            unsigned char msg[5];
            msg[0] = SET_ROW;
            put_be32(msg + 1, (uint32_t)row);
            if (xsend(d->link, msg, sizeof(msg)))
                goto link_error;
            d->last_row = row;
        }
    }
    return 0;

link_error:
    close_link(d);
    return -1;
}
