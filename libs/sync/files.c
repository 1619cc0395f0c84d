/*
 * files.c - the file calls of the sync library on UTF-8 path names.
 */
#include "files.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#include <wchar.h>

/* The UTF-16 form of the UTF-8 text, in memory the caller frees; null when
 * the text is not UTF-8 or memory runs out. */
static wchar_t* widen(const char* text) {
    wchar_t* wide;
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
    if (size <= 0)
        return NULL;
    wide = malloc(sizeof(*wide) * (size_t)size);
    if (wide && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, size) != size) {
        free(wide);
        return NULL;
    }
    return wide;
}

FILE* sync_fopen(const char* path, const char* mode) {
    FILE* file = NULL;
    wchar_t *wpath = widen(path), *wmode = widen(mode);
    if (wpath && wmode)
        file = _wfopen(wpath, wmode);
    free(wpath);
    free(wmode);
    return file;
}

int sync_remove(const char* path) {
    int ret = -1;
    wchar_t* wpath = widen(path);
    if (wpath)
        ret = _wremove(wpath);
    free(wpath);
    return ret;
}

int sync_path_kind(const char* path) {
    struct _stat64 st;
    int ret = -1;
    wchar_t* wpath = widen(path);
    if (wpath && _wstat64(wpath, &st) == 0)
        ret = (st.st_mode & _S_IFMT) == _S_IFDIR ? 1 : 0;
    free(wpath);
    return ret;
}

int sync_make_dir(const char* path) {
    int ret = -1;
    wchar_t* wpath = widen(path);
    if (wpath)
        ret = _wmkdir(wpath);
    free(wpath);
    return ret;
}

int sync_replace_file(const char* from, const char* to) {
    int ret = -1;
    wchar_t *wfrom = widen(from), *wto = widen(to);
    if (wfrom && wto && MoveFileExW(wfrom, wto, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ret = 0;
    free(wfrom);
    free(wto);
    return ret;
}

#else

FILE* sync_fopen(const char* path, const char* mode) {
    return fopen(path, mode);
}

int sync_remove(const char* path) {
    return remove(path);
}

int sync_path_kind(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0)
        return -1;
    return S_ISDIR(st.st_mode) ? 1 : 0;
}

int sync_make_dir(const char* path) {
    return mkdir(path, 0777);
}

int sync_replace_file(const char* from, const char* to) {
    return rename(from, to);
}

#endif
