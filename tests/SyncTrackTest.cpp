// The key store of a track and its evaluation at fractional rows.

#include "sync.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

namespace {

// A track on the stack that owns its keys.
struct Track {
    sync_track t{};
    Track() = default;
    Track(std::initializer_list<track_key> keys) {
        for (const track_key& k : keys)
            EXPECT_EQ(sync_set_key(&t, k), 0);
    }
    ~Track() { sync_clear_keys(&t); }
    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;

    std::vector<int> rows() const {
        std::vector<int> out;
        for (int i = 0; i < t.key_count; ++i)
            out.push_back(t.keys[i].row);
        return out;
    }
    double at(double row) const { return sync_get_val(&t, row); }
};

// Keys (0, 0.0) and (10, 1.0), the first of the given type.
Track* unitRamp(Track& track, key_type type) {
    EXPECT_EQ(sync_set_key(&track.t, {0, 0.0f, type}), 0);
    EXPECT_EQ(sync_set_key(&track.t, {10, 1.0f, KEY_STEP}), 0);
    return &track;
}

TEST(SyncTrack, EmptyTrackYieldsZeroAtEveryRow) {
    Track track;
    for (double row : {-1000.5, -1.0, 0.0, 0.5, 17.0, 1e9})
        EXPECT_EQ(track.at(row), 0.0) << row;
}

TEST(SyncTrack, SingleKeyHoldsItsValueBeforeAndAfter) {
    for (key_type type : {KEY_STEP, KEY_LINEAR, KEY_SMOOTH, KEY_RAMP}) {
        Track track{{7, 2.5f, type}};
        for (double row : {-100.0, 6.99, 7.0, 7.5, 1e6})
            EXPECT_EQ(track.at(row), 2.5) << "type " << type << " row " << row;
    }
}

TEST(SyncTrack, FindKeyGivesHitsAndComplementedInsertionPoints) {
    Track empty;
    EXPECT_EQ(sync_find_key(&empty.t, 0), -1);
    EXPECT_EQ(sync_find_key(&empty.t, -50), -1);

    Track track{{10, 1.0f, KEY_STEP}, {20, 2.0f, KEY_STEP}};
    EXPECT_EQ(sync_find_key(&track.t, 10), 0);
    EXPECT_EQ(sync_find_key(&track.t, 20), 1);
    EXPECT_EQ(sync_find_key(&track.t, 5), -1);
    EXPECT_EQ(sync_find_key(&track.t, 15), -2);
    EXPECT_EQ(sync_find_key(&track.t, 25), -3);
}

TEST(SyncTrack, FindKeySearchesLargeTracks) {
    Track track;
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(sync_set_key(&track.t, {i * 3, float(i), KEY_STEP}), 0);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(sync_find_key(&track.t, i * 3), i);
        EXPECT_EQ(sync_find_key(&track.t, i * 3 + 1), ~(i + 1));
    }
    EXPECT_EQ(sync_find_key(&track.t, -1), ~0);
}

TEST(SyncTrack, WholeRowPicksTheSegment) {
    // Step keys show which key's segment a row falls in.
    Track track{{10, 1.0f, KEY_STEP}, {20, 2.0f, KEY_STEP}};
    EXPECT_EQ(track.at(5.0), 1.0); // before the first key: its value
    EXPECT_EQ(track.at(10.0), 1.0);
    EXPECT_EQ(track.at(19.999), 1.0);
    EXPECT_EQ(track.at(20.0), 2.0);
    EXPECT_EQ(track.at(500.0), 2.0);
}

TEST(SyncTrack, NegativeFractionalRowsRoundDown) {
    // -0.5 lies on row -1, in the segment of the key at -10, not on row 0.
    Track track{{-10, 0.0f, KEY_STEP}, {0, 1.0f, KEY_STEP}, {10, 2.0f, KEY_STEP}};
    EXPECT_EQ(track.at(-0.5), 0.0);
    EXPECT_EQ(track.at(-10.0), 0.0);
    EXPECT_EQ(track.at(0.0), 1.0);
}

TEST(SyncTrack, RowsPastTheIntRangeHoldTheEdgeKeys) {
    Track track{{-10, 1.0f, KEY_LINEAR}, {10, 2.0f, KEY_STEP}};
    EXPECT_EQ(track.at(1e12), 2.0);
    EXPECT_EQ(track.at(-1e12), 1.0);
    EXPECT_EQ(track.at(std::nan("")), 1.0);
}

TEST(SyncTrack, InterpolationCurvesBetweenZeroAndOne) {
    struct Case {
        key_type type;
        double row;
        double value;
    };
    const Case cases[] = {
        {KEY_LINEAR, 2.5, 0.25},    {KEY_LINEAR, 5.0, 0.5}, {KEY_LINEAR, 9.99, 0.999},
        {KEY_SMOOTH, 2.5, 0.15625}, {KEY_SMOOTH, 5.0, 0.5}, {KEY_RAMP, 2.5, 0.0625},
        {KEY_RAMP, 5.0, 0.25},      {KEY_STEP, 2.5, 0.0},   {KEY_STEP, 5.0, 0.0},
        {KEY_STEP, 9.99, 0.0},
    };
    for (const Case& c : cases) {
        Track track;
        unitRamp(track, c.type);
        EXPECT_DOUBLE_EQ(track.at(c.row), c.value) << "type " << c.type << " row " << c.row;
    }
    for (key_type type : {KEY_STEP, KEY_LINEAR, KEY_SMOOTH, KEY_RAMP}) {
        Track track;
        unitRamp(track, type);
        EXPECT_EQ(track.at(10.0), 1.0) << type;
        EXPECT_EQ(track.at(10.5), 1.0) << type;
        EXPECT_EQ(track.at(1e6), 1.0) << type;
        EXPECT_EQ(track.at(-3.0), 0.0) << type;
        EXPECT_EQ(track.at(0.0), 0.0) << type;
    }
    Track smooth, ramp;
    unitRamp(smooth, KEY_SMOOTH);
    unitRamp(ramp, KEY_RAMP);
    EXPECT_NEAR(smooth.at(9.99), 0.999 * 0.999 * (3 - 2 * 0.999), 1e-12);
    EXPECT_NEAR(ramp.at(9.99), 0.999 * 0.999, 1e-12);
}

TEST(SyncTrack, InterpolationUsesBothKeysRowsAndValues) {
    // Away from row 0 and value 0: t counts from the first key's row, and
    // the value moves from the first value by the difference.
    Track linear{{10, 1.5f, KEY_LINEAR}, {30, -2.5f, KEY_STEP}};
    EXPECT_DOUBLE_EQ(linear.at(15.0), 0.5);
    EXPECT_DOUBLE_EQ(linear.at(12.5), 1.0);
    Track smooth{{-20, 4.0f, KEY_SMOOTH}, {-10, 2.0f, KEY_STEP}};
    EXPECT_DOUBLE_EQ(smooth.at(-15.0), 3.0);
}

TEST(SyncTrack, RowOnAKeyYieldsThatKeysValue) {
    Track track{
        {0, 1.0f, KEY_LINEAR}, {4, 3.0f, KEY_SMOOTH}, {8, 5.0f, KEY_RAMP}, {12, 9.0f, KEY_LINEAR}};
    EXPECT_EQ(track.at(0.0), 1.0);
    EXPECT_EQ(track.at(4.0), 3.0);
    EXPECT_EQ(track.at(8.0), 5.0);
    EXPECT_EQ(track.at(12.0), 9.0);
}

TEST(SyncTrack, UnknownKeyTypeHoldsLikeAStep) {
    Track track{{0, 0.25f, key_type(5)}, {10, 1.0f, KEY_STEP}};
    EXPECT_EQ(track.at(5.0), 0.25);
    EXPECT_EQ(track.at(10.0), 1.0);
}

TEST(SyncTrack, SettingAKeyOnAnOccupiedRowReplacesIt) {
    Track track{{10, 1.0f, KEY_STEP}, {20, 2.0f, KEY_STEP}};
    ASSERT_EQ(sync_set_key(&track.t, {10, 4.0f, KEY_RAMP}), 0);
    ASSERT_EQ(track.t.key_count, 2);
    EXPECT_EQ(track.t.keys[0].row, 10);
    EXPECT_EQ(track.t.keys[0].value, 4.0f);
    EXPECT_EQ(track.t.keys[0].type, KEY_RAMP);
    EXPECT_EQ(track.t.keys[1].value, 2.0f);
}

TEST(SyncTrack, KeysInsertedOutOfOrderStaySorted) {
    Track track{{30, 3.0f, KEY_STEP}, {10, 1.0f, KEY_STEP}, {20, 2.0f, KEY_STEP}};
    EXPECT_EQ(track.rows(), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(track.t.keys[0].value, 1.0f);
    EXPECT_EQ(track.t.keys[1].value, 2.0f);
    EXPECT_EQ(track.t.keys[2].value, 3.0f);
    Track extremes{{0, 0.0f, KEY_STEP}, {INT32_MAX, 1.0f, KEY_STEP}, {INT32_MIN, -1.0f, KEY_STEP}};
    EXPECT_EQ(extremes.rows(), (std::vector<int>{INT32_MIN, 0, INT32_MAX}));
}

TEST(SyncTrack, EditsAtBothEndsAndInTheMiddleKeepTheKeysInOrder) {
    // Runs of descending, ascending and scattered rows, with deletions
    // from both ends and the middle, against a plain ordered map.
    Track track;
    std::map<int, float> model;
    std::mt19937 random(7);
    auto set = [&](int row) {
        ASSERT_EQ(sync_set_key(&track.t, {row, float(row) * 0.5f, KEY_LINEAR}), 0);
        model[row] = float(row) * 0.5f;
    };
    auto remove = [&](int row) {
        EXPECT_EQ(sync_del_key(&track.t, row), model.erase(row) ? 0 : -1);
    };
    for (int round = 0; round < 4; ++round) {
        for (int row = 1000 * round; row > -1000 * round; --row)
            set(row);
        for (int row = 0; row < 1500; ++row)
            set(row * 3);
        for (int i = 0; i < 500; ++i)
            set(int(random() % 20000) - 10000);
        for (int i = 0; i < 300 && !model.empty(); ++i) {
            remove(model.begin()->first);
            remove(model.rbegin()->first);
            remove(int(random() % 20000) - 10000);
        }
    }
    std::vector<int> rows;
    for (const auto& [row, value] : model)
        rows.push_back(row);
    ASSERT_EQ(track.rows(), rows);
    for (int i = 0; i < track.t.key_count; ++i)
        ASSERT_EQ(track.t.keys[i].value, model[track.t.keys[i].row]);
    while (!model.empty())
        remove(model.begin()->first);
    EXPECT_EQ(track.t.keys, nullptr);
}

TEST(SyncTrack, DeletingKeysKeepsTheRestInOrder) {
    Track track{{10, 1.0f, KEY_STEP}, {20, 2.0f, KEY_STEP}, {30, 3.0f, KEY_STEP}};
    ASSERT_EQ(sync_del_key(&track.t, 20), 0);
    EXPECT_EQ(track.rows(), (std::vector<int>{10, 30}));
    EXPECT_EQ(track.t.keys[1].value, 3.0f);
    ASSERT_EQ(sync_del_key(&track.t, 10), 0);
    EXPECT_EQ(track.rows(), (std::vector<int>{30}));
}

TEST(SyncTrack, DeletingTheOnlyKeyLeavesAnEmptyTrack) {
    Track track{{10, 1.0f, KEY_LINEAR}};
    ASSERT_EQ(sync_del_key(&track.t, 10), 0);
    EXPECT_EQ(track.t.key_count, 0);
    EXPECT_EQ(track.t.keys, nullptr);
    EXPECT_EQ(track.at(10.0), 0.0);
}

TEST(SyncTrack, DeletingARowWithoutAKeyIsRefused) {
    Track track{{10, 1.0f, KEY_STEP}, {20, 2.0f, KEY_STEP}};
    const track_key* before = track.t.keys;
    EXPECT_EQ(sync_del_key(&track.t, 15), -1);
    EXPECT_EQ(sync_del_key(&track.t, 5), -1);
    EXPECT_EQ(sync_del_key(&track.t, 25), -1);
    EXPECT_EQ(track.t.keys, before);
    EXPECT_EQ(track.rows(), (std::vector<int>{10, 20}));

    Track empty;
    EXPECT_EQ(sync_del_key(&empty.t, 0), -1);
    EXPECT_EQ(empty.t.key_count, 0);
}

} // namespace
