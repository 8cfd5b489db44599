// The LZVN decoder: streams assembled by hand for each opcode kind with the bytes they must give,
// and cut anywhere; and damaged streams, each with its fault. (Streams of every opcode kind over
// varied data are the fixture builder's, held to 7-Zip and Sleuth Kit: tests/hfsplus/decmpfs_test.cpp.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hfsplus/lzvn.h"

namespace quarry {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes(std::initializer_list<int> list) {
    Bytes b;
    for (int v : list) b.push_back(static_cast<uint8_t>(v));
    return b;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
const Bytes kEnd = bytes({0x06, 0, 0, 0, 0, 0, 0, 0});

Bytes decodeOk(const Bytes& stream, size_t length) {
    Bytes out(length, 0xEE);
    const Status s = decodeLzvn(stream, out);
    EXPECT_TRUE(s) << s.fault();
    return out;
}

TEST(Lzvn, EachOpcodeKindGivesItsBytes) {
    const Bytes first300 = [] {
        Bytes b(300);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i % 251);
        return b;
    }();
    struct Case {
        const char* what;
        Bytes stream;
        Bytes expected;
    };
    const Case cases[] = {
        {"small literal", cat({bytes({0xE3}), text("abc"), kEnd}), text("abc")},
        {"large literal (16 + 4)", cat({bytes({0xE0, 0x04}), text("0123456789abcdefghij"), kEnd}), text("0123456789abcdefghij")},
        // L=1, M=1+3, D=2: the literal 'c', then 4 bytes from 2 back, overlapping what it writes.
        {"small distance", cat({bytes({0xE2}), text("ab"), bytes({0x48, 0x02}), text("c"), kEnd}), text("abcbcbc")},
        // 101 00 001, word (3 << 2 | 1): M = (1 << 2 | 1) + 3 = 8, D = 3.
        {"medium distance", cat({bytes({0xE3}), text("xyz"), bytes({0xA1, 0x0D, 0x00}), kEnd}), text("xyzxyzxyzxy")},
        // L=2 in the medium form: 101 10 000, M = 3, D = 2, after literals "pq".
        {"medium distance with literals", cat({bytes({0xE1}), text("a"), bytes({0xB0, 0x08, 0x00}), text("pq"), kEnd}),
         text("apqpqp")},
        // A match at D=2, then the previous-distance form L=1, M=0+3: 'q' and 3 bytes from 2 back.
        {"previous distance", cat({bytes({0xE2}), text("ab"), bytes({0x00, 0x02, 0x46}), text("q"), kEnd}),
         text("ababaqaqa")},
        {"small match", cat({bytes({0xE2}), text("ab"), bytes({0x00, 0x02, 0xF5}), kEnd}), text("ababababab")},
        {"large match (16 + 10)", cat({bytes({0xE1}), text("z"), bytes({0x00, 0x01, 0xF0, 0x0A}), kEnd}),
         Bytes(1 + 3 + 26, 'z')},
        {"nops between opcodes", cat({bytes({0x0E, 0xE1}), text("n"), bytes({0x16, 0x0E}), kEnd}), text("n")},
        {"end mark without padding", cat({bytes({0xE1}), text("e"), bytes({0x06})}), text("e")},
        {"empty stream", kEnd, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeOk(c.stream, c.expected.size()), c.expected) << c.what;
        // Cut anywhere before its end mark, whichever opcode the cut falls in, a stream is refused.
        Bytes out(c.expected.size());
        const size_t mark = c.stream.size() - (c.stream.size() >= 8 && c.stream[c.stream.size() - 8] == 0x06 ? 8 : 1);
        for (size_t cut = 0; cut < mark; ++cut) EXPECT_FALSE(decodeLzvn(std::span(c.stream.data(), cut), out)) << c.what << " cut at " << cut;
    }

    // The large-distance form: 272 bytes (16 + 256) as one literal run, then 0x17 (L=0,
    // M=2+3) with D=258.
    Bytes stream = cat({bytes({0xE0, 0xFF}), Bytes(first300.begin(), first300.begin() + 271), bytes({0x17, 0x02, 0x01}), kEnd});
    Bytes expected(first300.begin(), first300.begin() + 271);
    for (size_t i = 0; i < 5; ++i) expected.push_back(expected[expected.size() - 258]);
    EXPECT_EQ(decodeOk(stream, expected.size()), expected) << "large distance";
}

TEST(Lzvn, DamagedStreamsAreFaultsThatSayWhere) {
    struct Case {
        const char* what;
        Bytes stream;
        size_t length;
        const char* fault;
    };
    const Case cases[] = {
        {"undefined 0x1E", bytes({0x1E, 0x06}), 0, "opcode at byte 0 0x1E is not a defined opcode"},
        {"undefined 0x70", cat({bytes({0xE1, 'a', 0x70}), kEnd}), 1, "opcode at byte 2 0x70 is not a defined opcode"},
        {"undefined 0xD5", bytes({0xD5}), 0, "0xD5 is not a defined opcode"},
        {"small distance cut short", bytes({0xE1, 'a', 0x00}), 5, "opcode at byte 2 (0x00) is cut short"},
        {"large distance cut short", bytes({0xE1, 'a', 0x07, 0x01}), 5, "(0x07) is cut short"},
        {"literal run past the end", bytes({0xE5, 'a', 'b'}), 5, "carries 5 literal bytes past the end of the stream"},
        {"large literal past the end", bytes({0xE0, 0x00, 'a'}), 16, "carries 16 literal bytes past the end"},
        {"distance before the start", cat({bytes({0xE2, 'a', 'b', 0x00, 0x03}), kEnd}), 5,
         "copies from 3 bytes back, before the start of the output (2 bytes written)"},
        {"large distance far back", cat({bytes({0xE1, 'a', 0x07, 0xFF, 0xFF}), kEnd}), 4, "copies from 65535 bytes back"},
        {"distance zero", cat({bytes({0xE1, 'a', 0x00, 0x00}), kEnd}), 4, "copies a match without a distance"},
        {"match before any distance", cat({bytes({0xE1, 'a', 0xF3}), kEnd}), 4, "copies a match without a distance"},
        {"previous distance before any", cat({bytes({0x46, 'a'}), kEnd}), 4, "copies a match without a distance"},
        {"literals past the output", cat({bytes({0xE4}), text("abcd"), kEnd}), 3, "writes past the 3 bytes of output"},
        {"match past the output", cat({bytes({0xE1, 'a', 0x00, 0x01}), kEnd}), 2, "writes past the 2 bytes of output"},
        {"large match past the output", cat({bytes({0xE1, 'a', 0x00, 0x01, 0xF0, 0xFF}), kEnd}), 100, "writes past the 100"},
        {"ends short of the output", cat({bytes({0xE1, 'a'}), kEnd}), 2,
         "ends the stream after 1 bytes of output where 2 were expected"},
        {"no end mark", bytes({0xE1, 'a'}), 1, "ends at byte 2 without its end-of-stream mark"},
        {"nothing at all", {}, 0, "ends at byte 0 without its end-of-stream mark"},
    };
    for (const Case& c : cases) {
        Bytes out(c.length);
        const Status s = decodeLzvn(c.stream, out);
        ASSERT_FALSE(s) << c.what;
        EXPECT_NE(s.fault().find(c.fault), std::string::npos) << c.what << ": " << s.fault();
    }
}

}  // namespace
}  // namespace quarry
