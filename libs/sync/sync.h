/*
 * sync.h - keyframed sync tracks, track files and the link to the editor.
 *
 * A sync track is a named list of keys. Each key puts a value on an integer
 * row and says how the value travels to the next key; evaluating a track at
 * a fractional row gives the value a demo effect should use at that moment.
 *
 * Everything starts with a device:
 *
 *     sync_device *dev = sync_create_device("sync");
 *
 *     // Editing: link to the editor first (optional). The editor is a TCP
 *     // server; while the link is up, tracks come from the editor. Linking
 *     // never blocks for long: while it returns -1, call it again once a
 *     // frame (as when sync_update returns -1), which also carries on an
 *     // attempt still under way.
 *     sync_tcp_connect(dev, "localhost", 1338);
 *
 *     // Ask for every track once. Without a link the track is loaded from
 *     // its track file ("sync_fade.track" here); with a link the editor is
 *     // asked for its keys, which arrive through sync_update.
 *     sync_track *fade = sync_get_track(dev, "fade");
 *
 *     // Once a frame: pump the link (key edits, seeks, pauses, saves; the
 *     // current row is reported to the editor while playing), then sample.
 *     sync_update(dev, (int)floor(row), &callbacks, user_data);
 *     double v = sync_get_val(fade, row);
 *
 *     sync_destroy_device(dev);   // closes the link; saves nothing
 *
 * Track files are written only when the editor sends its save command (or
 * the caller calls sync_save_tracks). The library is single-threaded: use a
 * device and its tracks from one thread. Results of type int are 0 for
 * success and -1 for failure unless said otherwise.
 */
#ifndef SYNC_H
#define SYNC_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Tracks and keys
 * ------------------------------------------------------------------------ */

/* How the value travels from a key to the next one. One byte wide on the
 * editor link and in track files. */
enum key_type {
    KEY_STEP,   /* hold this key's value until the next key */
    KEY_LINEAR, /* straight line to the next key's value */
    KEY_SMOOTH, /* smoothstep t*t*(3 - 2t) to the next key's value */
    KEY_RAMP,   /* quadratic ease-in t*t to the next key's value */
    KEY_TYPE_COUNT
};

/* The byte that opens each message on the editor link. */
enum sync_command {
    SET_KEY = 0,     /* editor -> player: track, row, value, type */
    DELETE_KEY = 1,  /* editor -> player: track, row */
    GET_TRACK = 2,   /* player -> editor: name length, name */
    SET_ROW = 3,     /* both ways: row */
    PAUSE = 4,       /* editor -> player: flag */
    SAVE_TRACKS = 5, /* editor -> player */
};

/* One key: a value on a row, and the shape of the segment that follows. */
struct track_key {
    int row;
    float value;
    enum key_type type;
};

/* A named track. keys holds exactly key_count entries, sorted by row in
 * strictly ascending order, at most one key a row; keys is null when the
 * track has no keys. Both the name and the keys belong to the track: release
 * the keys with sync_clear_keys, never with free. A zero-initialised track
 * is a valid track without keys. */
typedef struct sync_track {
    char* name;
    struct track_key* keys;
    int key_count;
    /* Private to the library: keys sits key_front entries into a block of
	 * key_room entries, so that keys are added at either end in constant
	 * (amortised) time. */
    int key_front;
    int key_room;
} sync_track;

/* Returns the index of the key on row, or, when there is none, the bitwise
 * complement of the index at which such a key would be inserted (always
 * negative: -(insertion index) - 1). The functions on tracks accept a null
 * track: it has no keys and refuses changes. */
int sync_find_key(const sync_track* track, int row);

/* Inserts key, or overwrites value and type of the key already on key.row.
 * Keys arriving in ascending or descending row order take constant
 * amortised time each. Returns -1, leaving the track unchanged, when memory
 * runs out. */
int sync_set_key(sync_track* track, struct track_key key);

/* Removes the key on row. Returns -1, leaving the track unchanged, when no
 * key sits on row or memory runs out. */
int sync_del_key(sync_track* track, int row);

/* Removes every key and releases their memory. */
void sync_clear_keys(sync_track* track);

/* Returns the value of the track at a fractional row: 0.0 for a track with
 * no keys; the first key's value before it and the last key's value from it
 * on; between two keys, the curve of the first key's type, driven by the
 * fraction of the way from one row to the other. A key whose type is not a
 * known key_type holds its value like KEY_STEP. */
double sync_get_val(const sync_track* track, double row);

/* ------------------------------------------------------------------------
 * The device
 * ------------------------------------------------------------------------ */

/* The file operations through which track files are loaded. */
struct sync_io_cb {
    FILE* (*open)(const char* path, const char* mode);
    size_t (*read)(void* buffer, size_t size, size_t count, FILE* file);
    int (*close)(FILE* file);
};

/* A socket handle: the connected editor link. */
#ifdef _WIN32
typedef uintptr_t sync_socket; /* a Winsock SOCKET */
#define SYNC_INVALID_SOCKET (~(sync_socket)0)
#else
typedef int sync_socket;
#define SYNC_INVALID_SOCKET (-1)
#endif

/* The root object: every track, the editor link and the file operations.
 * The fields are readable; change them only through the functions below. */
typedef struct sync_device {
    char* base;          /* base name of the track files, encoded */
    char* folder;        /* folder of the track files as given, or null */
    sync_track** tracks; /* in creation order: index = index on the link */
    int track_count;
    int last_row;     /* row last reported to the editor, -1 at first */
    sync_socket link; /* SYNC_INVALID_SOCKET while there is no link */
    struct sync_io_cb io;
    sync_socket pending;       /* a connection attempt under way, else SYNC_INVALID_SOCKET */
    unsigned update_budget_ms; /* most time sync_update spends on commands
	                            * (10 at creation; 0: no limit) */
    struct sync_link* net;     /* the link's buffers and timers: private */
} sync_device;

/* Creates a device whose track files are named base + "_" + encoded track
 * name + ".track", relative to the working directory. Returns null when base
 * is null, starts with "/" or memory runs out. */
sync_device* sync_create_device(const char* base);

/* Makes the device's track files relative to folder instead of the working
 * directory: the file of track name is folder + "/" + sync_track_path(base,
 * name). The folder is taken as given, not encoded, and may be absolute; it
 * must exist, as saving creates only the folders below it. A null or empty
 * folder means the working directory again. Call it before the first
 * sync_get_track. Returns -1 for a null device or when memory runs out. */
int sync_set_folder(sync_device* device, const char* folder);

/* Closes the link, then frees every track and the device. Saves nothing.
 * A null device is ignored. */
void sync_destroy_device(sync_device* device);

/* Returns the track of that name, creating it the first time: a new track
 * is loaded from its track file when there is no link (and stays empty when
 * the file is missing or malformed), else requested from the editor. The
 * track stays valid until the device is destroyed. Returns null when memory
 * runs out. */
sync_track* sync_get_track(sync_device* device, const char* name);

/* ------------------------------------------------------------------------
 * Track files
 * ------------------------------------------------------------------------ */

/*
 * A track file holds, little-endian and without header or padding, the key
 * count N (signed 32 bits) and then N keys in ascending row order, each as
 * row (signed 32 bits), value (IEEE-754 single) and type (one byte): 4 + 9*N
 * bytes. A file of any other length, with a negative N or with rows out of
 * order is refused as a whole: the track stays empty. A zero-length file is
 * an empty track.
 *
 * Track names become file names byte by byte: letters, digits, ".", "/" and
 * "_" pass, every other byte b becomes "-" and two upper-case hex digits
 * ("fx:glow" -> "sync_fx-3Aglow.track"). A "/" makes a subdirectory, which
 * saving creates. Paths are cut silently at 259 characters; saving refuses
 * a track whose name sync_track_name_fault finds fault with.
 */

/* Returns why a track of that name cannot be saved to a file of its own
 * inside the working directory, as a phrase to follow the name ("is an
 * absolute path", "has a \"..\" component", "holds a control character",
 * "is too long for a file name"), or null when it can. base is the base
 * given to sync_create_device. */
const char* sync_track_name_fault(const char* base, const char* name);

/* Returns the path of the track file of the track name under base (base as
 * stored in a device). The text lives in a buffer that the next call
 * overwrites. */
const char* sync_track_path(const char* base, const char* name);

/* Loads the track's keys again from its track file under the device's base,
 * replacing the keys it has. Returns -1, leaving the track as it was, when
 * the file is missing, unreadable or refused as malformed. */
int sync_load_track(sync_device* device, sync_track* track);

/* Writes every track, in creation order, to its track file. Each file is
 * written beside the old one under a temporary name (the file's name with
 * its last character replaced by "~") and renamed over it only once
 * completely written and flushed to the disk, so a failed save never leaves
 * a damaged track file behind; a temporary file left by a save that was
 * killed is removed by the next save. A track file that is a symbolic link
 * is written through to its target, and a file keeps its permission bits.
 * Returns -1 at the first track that fails or whose name is refused (later
 * tracks are not written). */
int sync_save_tracks(const sync_device* device);

/* ------------------------------------------------------------------------
 * The editor link
 * ------------------------------------------------------------------------ */

/* The playback callbacks through which the editor drives the music. Any of
 * them may be null. user_data is passed through untouched. */
typedef struct sync_cb {
    void (*pause)(void* user_data, int flag);  /* flag 1: pause, else play */
    void (*set_row)(void* user_data, int row); /* seek to row */
    int (*is_playing)(void* user_data);        /* non-zero while playing */
} sync_cb;

/* Connects to the editor at host:port: closes any link, discards every
 * track's keys once the editor has greeted, and asks the editor for every
 * track. Returns 0 when the link is up. Never blocks for long: the call that
 * starts an attempt waits for it at most about 20 ms; when the attempt is
 * not through by then, -1 is returned with the attempt under way (pending),
 * and the next call for the same host and port carries it on without
 * waiting. An address that stays silent for about 2 s (no answer to the
 * connection, no greeting) is given up. On failure there is no link and the
 * tracks keep their keys (unless the link failed while asking for tracks).
 * Host names are resolved by the system, which may wait. */
int sync_tcp_connect(sync_device* device, const char* host, unsigned short port);

/* The same as sync_tcp_connect. */
int sync_connect(sync_device* device, const char* host, unsigned short port);

/* Pumps the link once a frame: applies the commands the editor has sent
 * (key edits, seeks, pauses, saves) in arrival order, then, when is_playing
 * says so and row differs from the row last reported, reports row to the
 * editor. callbacks may be null. Never waits for the editor: a message
 * whose bytes have not all arrived is kept for a later call, and after
 * update_budget_ms of commands the rest waits for the next call.
 * Returns 0 while the link is up, -1 when there was no link or it was
 * dropped (by the editor, a broken message, an unknown command, or about
 * 2 s of silence in the middle of a message; tracks keep their keys).
 * Reconnecting is the caller's business. */
int sync_update(sync_device* device, int row, const sync_cb* callbacks, void* user_data);

#ifdef __cplusplus
}
#endif

#endif /* SYNC_H */
