#include <openssl/sha.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/text/hex.hpp"
#include "core/auth/sign.hpp"
#include "check.hpp"

namespace {

std::string repeated(char byte, std::size_t count) { return std::string(count, byte); }

// The signature; libcrypto never fails to compute one here.
std::string sign(std::string_view key, std::string_view message) {
    auto signature = vemrat::core::sign(key, message);
    CHECK(signature.has_value());
    return signature.value_or("");
}

bool is_lower_hex(std::string_view text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::string sha256(std::string_view bytes) {
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

// HMAC-SHA256 spelled out from RFC 2104 on top of plain SHA-256, for keys of
// at most one block.
std::string hmac_by_hand(std::string_view key, std::string_view message) {
    std::string block(key);
    block.resize(64, '\0');
    std::string inner, outer;
    for (const char c : block) {
        inner += static_cast<char>(c ^ 0x36);
        outer += static_cast<char>(c ^ 0x5c);
    }
    return vemrat::core::hex_encode(sha256(outer + sha256(inner + std::string(message))));
}

}  // namespace

TEST_CASE(hex_encode_rows) {
    struct Row {
        std::string bytes;
        std::string_view hex;
    };
    const Row rows[] = {
        {"", ""},
        {std::string("\x00", 1), "00"},
        {"\x0f", "0f"},
        {"\x10", "10"},
        {"\xff", "ff"},
        {"\xab\xcd\xef", "abcdef"},
        {"Hi", "4869"},
        {std::string("\x00\x01\x7f\x80\xfe", 5), "00017f80fe"},
    };
    for (const Row& row : rows) {
        ROW(check::show_text(row.bytes));
        CHECK_EQ(vemrat::core::hex_encode(row.bytes), row.hex);
    }
}

TEST_CASE(hex_encode_every_byte_value) {
    constexpr char digits[] = "0123456789abcdef";
    std::vector<std::uint8_t> all;
    std::string expected;
    for (int value = 0; value < 256; ++value) {
        all.push_back(static_cast<std::uint8_t>(value));
        expected += digits[value / 16];
        expected += digits[value % 16];
    }
    CHECK_EQ(vemrat::core::hex_encode(all), expected);

    std::string appended = "prefix:";
    vemrat::core::hex_encode_into(appended, all);
    CHECK_EQ(appended, "prefix:" + expected);
}

TEST_CASE(sign_rfc4231_vectors) {
    struct Row {
        const char* name;
        std::string key;
        std::string data;
        std::string_view mac;
    };
    std::string key4;
    for (char c = 1; c <= 25; ++c) key4 += c;
    const Row rows[] = {
        {"test case 1", repeated('\x0b', 20), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"test case 2", "Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"test case 3", repeated('\xaa', 20), repeated('\xdd', 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"test case 4", key4, repeated('\xcd', 50),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {"test case 6", repeated('\xaa', 131), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"test case 7", repeated('\xaa', 131),
         "This is a test using a larger than block-size key and a larger than block-size data. The key needs to "
         "be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        CHECK_EQ(sign(row.key, row.data), row.mac);
    }
}

TEST_CASE(sign_key_length_at_block_boundary) {
    std::string key64;
    for (int i = 0; i < 64; ++i) key64 += static_cast<char>('A' + i % 26);
    const std::string key65 = key64 + "!";
    const std::string message = "community" "1700000000" "0123456789abcdef0123456789abcdef" "order-1";

    // 64 bytes: used as the padded key itself.
    CHECK_EQ(sign(key64, message), hmac_by_hand(key64, message));
    // 65 bytes: replaced by its digest first.
    CHECK_EQ(sign(key65, message), sign(sha256(key65), message));
    CHECK_EQ(sign(key65, message), hmac_by_hand(sha256(key65), message));
    CHECK(sign(key65, message) != sign(key64, message));
}

TEST_CASE(sign_shape_and_edge_inputs) {
    struct Row {
        const char* name;
        std::string key;
        std::string message;
        std::string_view mac;  // empty when only the shape is checked against the hand-made HMAC
    };
    const Row rows[] = {
        {"empty key and message", "", "", "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
        {"empty key", "", "message", ""},
        {"empty message", "key", "", ""},
        {"NUL bytes", std::string("k\0y", 3), std::string("m\0\0", 3), ""},
        {"non-ASCII", "clé secrète", "{\"montant\":\"10€\",\"nom\":\"Zoë 東京\"}",
         "9fe63a1d9fdc86aa8d2342f3682ca2c85964ce8ce9596afa8b19f9377a66b2c3"},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        const std::string mac = sign(row.key, row.message);
        CHECK_EQ(mac.size(), std::size_t{64});
        CHECK(is_lower_hex(mac));
        CHECK_EQ(mac, hmac_by_hand(row.key, row.message));
        if (!row.mac.empty()) CHECK_EQ(mac, row.mac);
        CHECK_EQ(sign(row.key, row.message), mac);
    }
}

TEST_CASE(sign_depends_on_every_input_byte) {
    const std::string key = "sponsor";
    const std::string message = "c" "1700000000" "n" "order";
    const std::string base = sign(key, message);
    CHECK(sign(key, "c" "n" "1700000000" "order") != base);
    CHECK(sign(key, message + " ") != base);
    CHECK(sign("sponsoR", message) != base);
    CHECK(sign(key, message.substr(1)) != base);
    // Keys are zero-padded to the block, so a trailing NUL in a short key
    // does not change the signature: a property of HMAC itself.
    CHECK_EQ(sign(key + std::string(1, '\0'), message), base);
}

TEST_CASE(signature_matches_rows) {
    const std::string expected = sign("sponsor", "{\"status\":\"paid\"}");
    auto changed_at = [&](std::size_t index) {
        std::string copy = expected;
        copy[index] = copy[index] == '0' ? '1' : '0';
        return copy;
    };
    std::string upper = expected;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    struct Row {
        const char* name;
        std::string given;
        bool matches;
    };
    const Row rows[] = {
        {"equal", expected, true},
        {"first byte differs", changed_at(0), false},
        {"last byte differs", changed_at(expected.size() - 1), false},
        {"upper-case digits", upper, false},
        {"trailing newline", expected + "\n", false},
        {"leading space", " " + expected, false},
        {"trimmed by one", expected.substr(0, expected.size() - 1), false},
        {"longer", expected + "0", false},
        {"empty", "", false},
    };
    CHECK(upper != expected);  // the digest has letters, so the upper-case row is a real mismatch
    for (const Row& row : rows) {
        ROW(row.name);
        CHECK_EQ(vemrat::core::signature_matches(row.given, expected), row.matches);
    }
    CHECK(vemrat::core::signature_matches("", ""));
}
