// Built once per codec implementation: every build must agree on what is a valid stream.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "archive/codec/codec.h"

namespace {

// Text with some repetition, so that deflate has matches to find.
std::vector<uint8_t> textOf(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = 12345;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = uint8_t("abcdefgh \n"[(state >> 16) % 10]);
    }
    return bytes;
}

// Made by zlib itself, the reference every implementation must read.
std::vector<uint8_t> zlibStream(const std::vector<uint8_t>& data, int level = 6) {
    uLongf length = compressBound(uLong(data.size()));
    std::vector<uint8_t> stream(length);
    EXPECT_EQ(compress2(stream.data(), &length, data.data(), uLong(data.size()), level), Z_OK);
    stream.resize(length);
    return stream;
}

std::optional<std::vector<uint8_t>> inflated(const std::vector<uint8_t>& stream, size_t room) {
    std::vector<uint8_t> out(room);
    const auto produced = inflateStream(stream, out);
    if (!produced) return std::nullopt;
    out.resize(*produced);
    return out;
}

// Through the streaming inflater, fed `piece` bytes at a time, as a too-large entry is: nullopt
// when it is damaged, does not end within the input or makes more than `room`.
std::optional<std::vector<uint8_t>> streamInflated(const std::vector<uint8_t>& stream, size_t room, size_t piece) {
    StreamInflater inflater;
    std::vector<uint8_t> out;
    const StreamSink sink = [&](std::span<const uint8_t> plain) {
        if (out.size() + plain.size() > room) return false;
        out.insert(out.end(), plain.begin(), plain.end());
        return true;
    };
    for (size_t at = 0; at < stream.size(); at += piece) {
        const size_t length = std::min(piece, stream.size() - at);
        const auto step = inflater.put({stream.data() + at, length}, sink);
        if (step == StreamInflater::Step::ENDED) return out;
        if (step == StreamInflater::Step::DAMAGED) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

TEST(Codec, DamagedStreamsFailAndSoundOnesInflate) {
    const auto data = textOf(200000);
    const auto sound = zlibStream(data);
    ASSERT_GT(sound.size(), 100u);
    const auto with = [&](auto change) {
        auto stream = sound;
        change(stream);
        return stream;
    };
    // The header's check bits must keep (CMF * 256 + FLG) a multiple of 31 for the other cases
    // to test what they name.
    const auto fixCheck = [](std::vector<uint8_t>& s) {
        s[1] = uint8_t(s[1] & 0xE0);
        s[1] = uint8_t(s[1] + (31 - (s[0] * 256 + s[1]) % 31) % 31);
    };
    const struct {
        const char* what;
        std::vector<uint8_t> stream;
        size_t room;
        bool inflates;
    } cases[] = {
        {"sound", sound, data.size(), true},
        {"room to spare", sound, data.size() + 1000, true},
        {"bytes after the stream", with([](auto& s) { s.insert(s.end(), 64, 0xAB); }), data.size(), true},
        {"level 0 stored blocks", zlibStream(data, 0), data.size(), true},
        {"room one byte short", sound, data.size() - 1, false},
        {"cut in the middle", with([](auto& s) { s.resize(s.size() / 2); }), data.size(), false},
        {"checksum cut off", with([](auto& s) { s.resize(s.size() - 4); }), data.size(), false},
        {"checksum wrong", with([](auto& s) { s.back() ^= 0x01; }), data.size(), false},
        {"data byte flipped", with([](auto& s) { s[s.size() / 2] ^= 0x55; }), data.size(), false},
        {"header check wrong", with([](auto& s) { s[1] ^= 0x01; }), data.size(), false},
        {"not deflate", with([&](auto& s) { s[0] = 0x79; fixCheck(s); }), data.size(), false},
        {"window too large", with([&](auto& s) { s[0] = 0x88; fixCheck(s); }), data.size(), false},
        {"preset dictionary", with([&](auto& s) { s[1] |= 0x20; fixCheck(s); }), data.size(), false},
        {"raw deflate without header", with([](auto& s) { s.erase(s.begin(), s.begin() + 2); }), data.size(), false},
        {"empty input", {}, data.size(), false},
        {"header only", with([](auto& s) { s.resize(2); }), data.size(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(codecName()[0] == u'z' ? "zlib: " : "libdeflate: ") + c.what);
        const auto out = inflated(c.stream, c.room);
        ASSERT_EQ(out.has_value(), c.inflates);
        if (c.inflates) {
            EXPECT_EQ(*out, data);
        }
        // With a progress listener the answer is the same, and the listener hears of no more than
        // the input.
        std::vector<uint8_t> room(c.room);
        size_t heard = 0;
        const auto chunked = inflateStream(c.stream, room, [&](size_t consumed) {
            EXPECT_GE(consumed, heard);
            heard = consumed;
        });
        EXPECT_EQ(chunked.has_value(), c.inflates);
        EXPECT_LE(heard, c.stream.size());
        if (c.inflates) {
            EXPECT_GT(heard, 0u);
        }
        // The streaming inflater of too-large entries agrees, whatever the pieces.
        for (const size_t piece : {size_t(1), size_t(777), size_t(1) << 20}) {
            SCOPED_TRACE("pieces of " + std::to_string(piece));
            const auto streamed = streamInflated(c.stream, c.room, piece);
            ASSERT_EQ(streamed.has_value(), c.inflates);
            if (c.inflates) {
                EXPECT_EQ(*streamed, data);
            }
        }
    }
}

TEST(Codec, EmptyDataHasAStreamToCheck) {
    const auto empty = zlibStream({});
    std::vector<uint8_t> none;
    EXPECT_EQ(inflateStream(empty, none), std::optional<size_t>(0));
    auto spoiled = empty;
    spoiled.back() ^= 1;
    EXPECT_EQ(inflateStream(spoiled, none), std::nullopt);
}

TEST(Codec, StreamsAreZlibStreamsAndTheSameEveryTime) {
    // Beyond one chunk, a chunk exactly, and nothing.
    for (const size_t size : {size_t(0), size_t(1), CODEC_CHUNK_BYTES, 3 * CODEC_CHUNK_BYTES + 17}) {
        const auto data = textOf(size);
        for (int level = 0; level <= 9; ++level) {
            SCOPED_TRACE("size " + std::to_string(size) + ", level " + std::to_string(level));
            std::vector<uint8_t> whole;
            ASSERT_TRUE(deflateStream(data, level, whole));
            std::vector<uint8_t> again;
            std::vector<size_t> heard;
            ASSERT_TRUE(deflateStream(data, level, again, [&](size_t consumed) { heard.push_back(consumed); }));
            // A save compresses with a listener on any thread; the file must not depend on it.
            EXPECT_EQ(again, whole);
            ASSERT_FALSE(heard.empty());
            EXPECT_EQ(heard.back(), size);
            EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
            EXPECT_LE(whole.size(), deflateCapacity(size));

            // zlib reads it back.
            std::vector<uint8_t> back(size + 1);
            uLongf length = uLongf(back.size());
            ASSERT_EQ(uncompress(back.data(), &length, whole.data(), uLong(whole.size())), Z_OK);
            back.resize(length);
            EXPECT_EQ(back, data);
        }
    }
    std::vector<uint8_t> out;
    EXPECT_FALSE(deflateStream(textOf(10), 10, out));
}

TEST(Codec, StreamedDeflateMakesZlibStreamsWhateverThePieces) {
    const auto data = textOf(700000);
    const auto deflated = [&](int level, size_t piece) {
        StreamDeflater deflater(level);
        std::vector<uint8_t> stream;
        const StreamSink sink = [&](std::span<const uint8_t> bytes) {
            stream.insert(stream.end(), bytes.begin(), bytes.end());
            return true;
        };
        for (size_t at = 0; at < data.size(); at += piece) {
            const size_t length = std::min(piece, data.size() - at);
            EXPECT_TRUE(deflater.put({data.data() + at, length}, at + length == data.size(), sink));
        }
        return stream;
    };
    for (const int level : {0, 1, 6, 9}) {
        for (const size_t piece : {size_t(1000), size_t(65536), data.size()}) {
            SCOPED_TRACE("level " + std::to_string(level) + ", pieces of " + std::to_string(piece));
            const auto stream = deflated(level, piece);
            // zlib reads it back, and the same pieces make the same bytes every time (what keeps
            // a save's file the same with any number of threads).
            uLongf length = uLongf(data.size());
            std::vector<uint8_t> back(data.size());
            ASSERT_EQ(uncompress(back.data(), &length, stream.data(), uLong(stream.size())), Z_OK);
            EXPECT_EQ(back, data);
            EXPECT_EQ(deflated(level, piece), stream);
        }
    }
    // An empty input still makes a stream, and a sink that refuses stops the work.
    StreamDeflater empty(6);
    std::vector<uint8_t> stream;
    ASSERT_TRUE(empty.put({}, true, [&](std::span<const uint8_t> bytes) {
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        return true;
    }));
    EXPECT_EQ(streamInflated(stream, 0, 3), std::optional<std::vector<uint8_t>>(std::vector<uint8_t>{}));
    StreamDeflater refused(6);
    EXPECT_FALSE(refused.put(data, true, [](std::span<const uint8_t>) { return false; }));
}

TEST(Codec, ThreadsThatCompressedEndCleanly) {
    // Each round's threads compress and inflate, then end while others start: the codec's
    // per-call state must outlive none of them and be freed by none of them twice.
    const auto data = textOf(100000);
    std::vector<uint8_t> expected;
    ASSERT_TRUE(deflateStream(data, 6, expected));
    for (int round = 0; round < 4; ++round) {
        std::vector<std::thread> threads;
        std::vector<std::vector<uint8_t>> streams(3);
        std::vector<std::optional<size_t>> inflatedSizes(3);
        for (size_t t = 0; t < streams.size(); ++t) {
            threads.emplace_back([&, t] {
                deflateStream(data, t == 0 ? 6 : int(t), streams[t]);
                std::vector<uint8_t> back(data.size());
                inflatedSizes[t] = inflateStream(streams[t], back);
            });
        }
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(streams[0], expected);
        for (const auto& size : inflatedSizes) EXPECT_EQ(size, std::optional<size_t>(data.size()));
    }
}
