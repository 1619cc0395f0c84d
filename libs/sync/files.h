/*
 * files.h - the file calls of the sync library, on UTF-8 path names. On
 * Windows they go through the system's wide-character calls, so that a demo
 * folder named in any script works; elsewhere they are the C library's.
 */
#ifndef SYNC_FILES_H
#define SYNC_FILES_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the file like fopen. */
FILE* sync_fopen(const char* path, const char* mode);

/* Removes the file like remove. */
int sync_remove(const char* path);

/* Returns whether path names an existing directory (1), something else
 * that exists (0) or nothing (-1). */
int sync_path_kind(const char* path);

/* Creates one directory. Returns 0 on success. */
int sync_make_dir(const char* path);

/* Moves the file from over the file to, atomically where the system can;
 * on Windows the call returns only once the move is on the disk. Returns 0
 * on success. */
int sync_replace_file(const char* from, const char* to);

#ifdef __cplusplus
}
#endif

#endif /* SYNC_FILES_H */
