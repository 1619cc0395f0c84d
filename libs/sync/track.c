/*
 * track.c - the key store of one track and its evaluation.
 */
#include "sync.h"

#include <assert.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

/* ------------------------------------------------------------------------
 * Internal helpers
 * ------------------------------------------------------------------------ */

/* Returns the index of the last key at or below row, or -1 when every key
 * lies above row. */
static int key_idx_floor(const sync_track* t, int row) {
    int idx = sync_find_key(t, row);
    if (idx < 0)
        idx = -idx - 2;
    return idx;
}

/* Returns the fraction of the way from key k[0] to key k[1] at row. */
static double key_fraction(const struct track_key k[2], double row) {
    return (row - k[0].row) / ((double)k[1].row - k[0].row);
}

/* Returns the value between k[0] and k[1] shaped by the factor f. */
static double key_mix(const struct track_key k[2], double f) {
    return (double)k[0].value + ((double)k[1].value - (double)k[0].value) * f;
}

/* Returns the value on the straight line from k[0] to k[1]. */
static double key_linear(const struct track_key k[2], double row) {
    return key_mix(k, key_fraction(k, row));
}

/* Returns the value on the smoothstep curve from k[0] to k[1]. */
static double key_smooth(const struct track_key k[2], double row) {
    double t = key_fraction(k, row);
    t = (t * t) * (3 - 2 * t);
    return key_mix(k, t);
}

/* Returns the value on the quadratic ease-in from k[0] to k[1]. */
static double key_ramp(const struct track_key k[2], double row) {
    double t = key_fraction(k, row);
    t = pow(t, 2.0);
    return key_mix(k, t);
}

/* Moves the keys into a new block twice the size, with the free entries
 * split evenly before and after them and an unused entry at idx. Returns -1,
 * leaving the track unchanged, when memory runs out. */
static int grow_keys(sync_track* t, int idx) {
    size_t count = (size_t)t->key_count;
    size_t room = 2 * (count + 1) < 8 ? 8 : 2 * (count + 1);
    size_t front = (room - count - 1) / 2;
    struct track_key* block;

    if (count + 1 > INT_MAX / 2)
        return -1;
    block = malloc(sizeof(*block) * room);
    if (!block)
        return -1;
    if (t->keys) {
        memcpy(block + front, t->keys, sizeof(*block) * (size_t)idx);
        memcpy(block + front + idx + 1, t->keys + idx, sizeof(*block) * (count - (size_t)idx));
        free(t->keys - t->key_front);
    }
    t->keys = block + front;
    t->key_front = (int)front;
    t->key_room = (int)room;
    t->key_count++;
    return 0;
}

/* Makes an unused entry at idx for a new key. The keys sit inside a larger
 * block with free entries on both sides: the shorter side moves by one, so
 * that keys arriving in ascending or descending row order are added in
 * constant time; only a full side makes the block grow (doubling). */
static int open_gap(sync_track* t, int idx) {
    int room =
        t->key_room < t->key_front + t->key_count ? t->key_front + t->key_count : t->key_room;
    int back = room - t->key_front - t->key_count;

    assert(idx >= 0 && idx <= t->key_count);
    if (idx < t->key_count / 2 + 1 && t->key_front > 0) {
        t->keys--;
        t->key_front--;
        memmove(t->keys, t->keys + 1, sizeof(*t->keys) * (size_t)idx);
    } else if (idx >= t->key_count / 2 && back > 0) {
        memmove(t->keys + idx + 1, t->keys + idx, sizeof(*t->keys) * (size_t)(t->key_count - idx));
    } else {
        return grow_keys(t, idx);
    }
    t->key_count++;
    return 0;
}

/* ------------------------------------------------------------------------
 * Public functions
 * ------------------------------------------------------------------------ */

int sync_find_key(const sync_track* t, int row) {
    int lo = 0, hi;
    if (!t)
        return -1;
    hi = t->key_count;

    /* The keys are sorted by row: halve the range until it is empty. */
    while (lo < hi) {
        int mi = lo + (hi - lo) / 2;
        assert(mi != hi);

        if (t->keys[mi].row < row)
            lo = mi + 1;
        else if (t->keys[mi].row > row)
            hi = mi;
        else
            return mi;
    }
    assert(lo == hi);

    /* lo is where a key for row would go; its complement is negative
	 * even for index 0, so a miss never looks like a hit */
    return ~lo;
}

int sync_set_key(sync_track* t, struct track_key k) {
    int idx;
    if (!t)
        return -1;

    idx = sync_find_key(t, k.row);
    if (idx < 0) {
        idx = ~idx;
        if (open_gap(t, idx))
            return -1;
    }
    t->keys[idx] = k;
    return 0;
}

int sync_del_key(sync_track* t, int row) {
    int idx;
    if (!t)
        return -1;

    idx = sync_find_key(t, row);
    if (idx < 0)
        return -1; /* no key on that row: nothing to delete */

    if (t->key_count == 1) {
        sync_clear_keys(t);
        return 0;
    }
    /* close the gap from the shorter side; the block keeps its size */
    if (idx < t->key_count / 2) {
        memmove(t->keys + 1, t->keys, sizeof(*t->keys) * (size_t)idx);
        t->keys++;
        t->key_front++;
    } else {
        memmove(t->keys + idx, t->keys + idx + 1,
                sizeof(*t->keys) * (size_t)(t->key_count - idx - 1));
    }
    t->key_count--;
    return 0;
}

void sync_clear_keys(sync_track* t) {
    if (!t)
        return;
    if (t->keys)
        free(t->keys - t->key_front);
    t->keys = NULL;
    t->key_count = 0;
    t->key_front = 0;
    t->key_room = 0;
}

double sync_get_val(const sync_track* t, double row) {
    int idx, irow;

    if (!t || !t->key_count)
        return 0.0;

    /* The whole row picks the segment (clamped, so that no row converts
	 * out of range; NaN lands before the first key). */
    if (row >= (double)INT_MAX)
        irow = INT_MAX;
    else if (row >= (double)INT_MIN)
        irow = (int)floor(row);
    else
        irow = INT_MIN;
    idx = key_idx_floor(t, irow);

    /* before the first key and from the last key on, the value holds; the
	 * row itself decides "before", since a row below the int range was
	 * clamped onto a first key that may sit at INT_MIN */
    if (idx < 0 || !(row >= t->keys[0].row))
        return t->keys[0].value;
    if (idx > t->key_count - 2)
        return t->keys[t->key_count - 1].value;

    /* inside a segment the first key's type shapes the way to the next;
	 * a type that is no known key_type holds the value like a step */
    switch (t->keys[idx].type) {
    case KEY_LINEAR:
        return key_linear(t->keys + idx, row);
    case KEY_SMOOTH:
        return key_smooth(t->keys + idx, row);
    case KEY_RAMP:
        return key_ramp(t->keys + idx, row);
    case KEY_STEP:
    default:
        return t->keys[idx].value;
    }
}
