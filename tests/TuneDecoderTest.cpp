// The tune decoder on MP3 files as musicians export them, made at test time
// with the command-line encoders: with and without a Xing/Info header, CBR
// and VBR, wrapped in tags and junk.

#include "TuneDecoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Tolvane::TuneDecoder;

namespace {

constexpr int RATE = 44100;
constexpr int64_t FRAMES = 10 * RATE; // the 10-second tune

using Bytes = std::vector<char>;

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::vector<Bytes>& parts) {
    std::ofstream out(path, std::ios::binary);
    for (const Bytes& part : parts)
        out.write(part.data(), static_cast<std::streamsize>(part.size()));
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// An ID3v2.3 tag holding a title, padded with zeros to size bytes.
Bytes id3v2(size_t size) {
    Bytes frame = text("TIT2");
    const std::string title = std::string(1, '\0') + "Tune";
    for (int shift : {24, 16, 8, 0})
        frame.push_back(static_cast<char>(title.size() >> shift));
    frame.insert(frame.end(), {0, 0});
    frame.insert(frame.end(), title.begin(), title.end());
    frame.resize(size - 10, 0);
    Bytes tag = text("ID3");
    tag.insert(tag.end(), {3, 0, 0});
    for (int shift : {21, 14, 7, 0})
        tag.push_back(static_cast<char>((frame.size() >> shift) & 0x7F));
    tag.insert(tag.end(), frame.begin(), frame.end());
    return tag;
}

// An APEv2 tag (header, one item, footer).
Bytes apeTag() {
    auto le32 = [](Bytes& out, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>(v >> (8 * i)));
    };
    Bytes item;
    le32(item, 4);
    le32(item, 0);
    const Bytes key = text(std::string("Title") + '\0' + "Tune");
    item.insert(item.end(), key.begin(), key.end());
    auto frame = [&](uint32_t flags) {
        Bytes f = text("APETAGEX");
        le32(f, 2000);
        le32(f, static_cast<uint32_t>(item.size() + 32));
        le32(f, 1);
        le32(f, flags);
        f.resize(32, 0);
        return f;
    };
    Bytes tag = frame(0xA0000000u); // header: has header, is header
    tag.insert(tag.end(), item.begin(), item.end());
    const Bytes footer = frame(0x80000000u);
    tag.insert(tag.end(), footer.begin(), footer.end());
    return tag;
}

Bytes id3v1() {
    Bytes tag = text("TAGTune");
    tag.resize(128, 0);
    return tag;
}

std::vector<float> readAll(TuneDecoder& decoder) {
    std::vector<float> all;
    std::vector<float> chunk(4096 * static_cast<size_t>(decoder.channels()));
    for (int64_t got; (got = decoder.read(chunk.data(), 4096)) > 0;) {
        all.insert(all.end(), chunk.begin(), chunk.begin() + got * decoder.channels());
    }
    return all;
}

class TuneDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tolvane-tune-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        const std::string wav = (dir / "sine.wav").string();
        const std::string make =
            "sox -q -n -r 44100 -c 2 -b 16 '" + wav + "' synth 10 sine 440 vol 0.5 2>/dev/null";
        if (std::system(make.c_str()) != 0)
            GTEST_SKIP() << "no sox";
    }
    void TearDown() override { fs::remove_all(dir); }

    // The sine encoded by lame with the given options, or an empty path.
    fs::path encode(const std::string& name, const std::string& options) {
        const fs::path mp3 = dir / name;
        const std::string command = "lame --quiet " + options + " '" + (dir / "sine.wav").string() +
                                    "' '" + mp3.string() + "' 2>/dev/null";
        return std::system(command.c_str()) == 0 ? mp3 : fs::path();
    }

    fs::path dir;
};

// Each export: whether it carries a Xing/Info header (which makes the
// length the sine's own, encoder delay and padding left out).
struct Export {
    const char* name;
    const char* options;
    bool header;
};
const Export EXPORTS[] = {
    {"cbr.mp3", "-b 192", true},
    {"vbr.mp3", "-V 4", true},
    {"vbr-bare.mp3", "-V 4 -t", false},
    {"cbr-bare.mp3", "-b 128 -t", false},
};

} // namespace

TEST_F(TuneDecoderTest, Mp3LengthIsExactAndSeeksLandOnTheFramesReadFromTheStart) {
    for (const Export& e : EXPORTS) {
        SCOPED_TRACE(e.name);
        const fs::path mp3 = encode(e.name, e.options);
        if (mp3.empty())
            GTEST_SKIP() << "no lame";
        TuneDecoder decoder;
        ASSERT_TRUE(decoder.open(mp3.string())) << decoder.failure();
        ASSERT_EQ(decoder.channels(), 2);
        ASSERT_EQ(decoder.rate(), RATE);
        if (e.header) {
            EXPECT_EQ(decoder.frames(), FRAMES);
        } else {
            // Without a header the delay and padding stay: a few frames more.
            EXPECT_GT(decoder.frames(), FRAMES);
            EXPECT_LT(decoder.frames(), FRAMES + 3 * 1152);
        }
        const std::vector<float> all = readAll(decoder);
        ASSERT_EQ(static_cast<int64_t>(all.size()), decoder.frames() * 2)
            << "the length is what plays";

        for (int64_t at : {int64_t{0}, int64_t{12345}, FRAMES / 2 + 7, decoder.frames() - 100}) {
            SCOPED_TRACE(at);
            ASSERT_TRUE(decoder.seek(at));
            std::vector<float> got(200);
            ASSERT_EQ(decoder.read(got.data(), 100), 100);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + at * 2));
        }
        ASSERT_TRUE(decoder.seek(decoder.frames()));
        float frame[2];
        EXPECT_EQ(decoder.read(frame, 1), 0);
    }
}

TEST_F(TuneDecoderTest, TagsAndJunkAroundAnMp3AreSkipped) {
    for (const Export& e : {EXPORTS[1], EXPORTS[2]}) {
        SCOPED_TRACE(e.name);
        const fs::path mp3 = encode(e.name, e.options);
        if (mp3.empty())
            GTEST_SKIP() << "no lame";
        TuneDecoder bare;
        ASSERT_TRUE(bare.open(mp3.string()));
        const std::vector<float> expected = readAll(bare);

        const Bytes audio = readBytes(mp3);
        const Bytes junk(2048, 0);
        const std::vector<std::pair<const char*, std::vector<Bytes>>> wrappings = {
            {"2 KiB of zeros first", {junk, audio}},
            {"padded ID3v2, APE and ID3v1 tags", {id3v2(4096), audio, apeTag(), id3v1()}},
            {"all of them", {id3v2(300), junk, audio, apeTag(), id3v1()}},
        };
        for (const auto& [what, parts] : wrappings) {
            SCOPED_TRACE(what);
            const fs::path wrapped = dir / "wrapped.mp3";
            writeBytes(wrapped, parts);
            TuneDecoder decoder;
            ASSERT_TRUE(decoder.open(wrapped.string())) << decoder.failure();
            EXPECT_EQ(decoder.frames(), bare.frames());
            EXPECT_EQ(readAll(decoder), expected);
        }
    }
}
