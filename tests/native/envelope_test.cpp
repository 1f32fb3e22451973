// The response envelope and the two field rules, row by row.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "core/json/reader.hpp"
#include "core/service/envelope.hpp"

using namespace std::string_literals;
using namespace std::string_view_literals;
using vemrat::core::json::Kind;
using vemrat::core::decode_envelope;
using vemrat::core::int_field;
using vemrat::core::text_field;

namespace {

struct FailRow {
    std::uint16_t status;
    std::string body;
    std::string message;
};

}  // namespace

TEST_CASE(envelope_failures_and_their_messages) {
    const std::vector<FailRow> rows = {
        // Status: anything but exactly 200 fails, the body unread.
        {201, R"({"data":{}})", R"(HTTP 201: {"data":{}})"},
        {204, "", "HTTP 204: "},
        {404, "Not Found", "HTTP 404: Not Found"},
        {404, R"({"detail":"no such order"})", R"(HTTP 404: {"detail":"no such order"})"},
        {500, "not json at all {", "HTTP 500: not json at all {"},
        {0, "x", "HTTP 0: x"},
        {65535, "", "HTTP 65535: "},
        // Parsing.
        {200, "", "Invalid JSON: EOF while parsing a value at line 1 column 0 | body: "},
        {200, R"({"data":{}} x)", R"(Invalid JSON: trailing characters at line 1 column 13 | body: {"data":{}} x)"},
        {200, "{\"a\":\"x\ny\"}",
         "Invalid JSON: control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0 | body: "
         "{\"a\":\"x\ny\"}"},
        {200, "[1,]", "Invalid JSON: trailing comma at line 1 column 4 | body: [1,]"},
        {200, R"({"a":1,})", R"(Invalid JSON: trailing comma at line 1 column 8 | body: {"a":1,})"},
        {200, "nul", "Invalid JSON: EOF while parsing a value at line 1 column 3 | body: nul"},
        {200, "tru e", "Invalid JSON: expected ident at line 1 column 4 | body: tru e"},
        {200, std::string(128, '['),
         "Invalid JSON: recursion limit exceeded at line 1 column 128 | body: " + std::string(128, '[')},
        {200, "<html>502</html>", "Invalid JSON: expected value at line 1 column 1 | body: <html>502</html>"},
        // Service error: a string "detail", before any look at "data".
        {200, R"({"detail":"Invalid sponsor key","data":{"order_id":"A"}})", "Invalid sponsor key"},
        {200, R"({"data":{"order_id":"A"},"detail":"late detail"})", "late detail"},
        {200, R"({"detail":""})", ""},
        {200, R"({"detail":"quote \" and \u00e9"})", "quote \" and \xC3\xA9"},
        {200, R"({"detail":1,"detail":"last wins"})", "last wins"},
        // Result presence.
        {200, "{}", "Missing 'data' in response: {}"},
        {200, "[1]", "Missing 'data' in response: [1]"},
        {200, "null", "Missing 'data' in response: null"},
        {200, R"("data")", R"(Missing 'data' in response: "data")"},
        {200, R"([{"data":1}])", R"(Missing 'data' in response: [{"data":1}])"},
        {200, R"({"Data":1,"DATA":2})", R"(Missing 'data' in response: {"Data":1,"DATA":2})"},
        {200, R"({"detail":null})", R"(Missing 'data' in response: {"detail":null})"},
        {200, " {\n \"detail\" : [\"x\"] }\n", "Missing 'data' in response:  {\n \"detail\" : [\"x\"] }\n"},
    };
    for (const FailRow& row : rows) {
        ROW(std::to_string(row.status) + " " + check::show_text(row.body));
        auto decoded = decode_envelope(row.status, row.body);
        CHECK(!decoded.has_value());
        if (decoded) continue;
        CHECK_EQ(decoded.error(), row.message);
    }
}

TEST_CASE(envelope_success_hands_out_data) {
    struct Row {
        std::string body;
        Kind kind;
    };
    const std::vector<Row> rows = {
        {R"({"data":{"order_id":"A","pay_url":"https://p.example/A"}})", Kind::Object},
        {R"({"detail":["x"],"data":{"order_id":"A"}})", Kind::Object},
        {R"({"detail":null,"data":1})", Kind::Unsigned},
        {R"({"detail":3,"data":[1]})", Kind::Array},
        {R"({"detail":true,"data":"s"})", Kind::String},
        {R"({"detail":{"m":"x"},"data":{}})", Kind::Object},
        {R"({"detail":"x","detail":1,"data":{}})", Kind::Object},
        {R"({"data":null})", Kind::Null},
        {R"({"data":{"k":1},"data":null})", Kind::Null},
        {R"({"data":null,"data":{"k":1}})", Kind::Object},
        {" \t\r\n{\"data\":-1.5} \t\r\n", Kind::Double},
    };
    for (const Row& row : rows) {
        ROW(check::show_text(row.body));
        auto decoded = decode_envelope(200, row.body);
        CHECK(decoded.has_value());
        if (!decoded) continue;
        CHECK(decoded->data != nullptr);
        CHECK_EQ(static_cast<int>(decoded->data->kind()), static_cast<int>(row.kind));
    }

    auto decoded = decode_envelope(200, R"({"detail":["x"],"data":{"order_id":"A"}})");
    CHECK(decoded && text_field(*decoded->data, "order_id") == "A"sv);

    // Every attribute takes its default when data is null.
    auto null_data = decode_envelope(200, R"({"data":null})");
    CHECK(null_data.has_value());
    if (null_data) {
        for (std::string_view key : {"order_id"sv, "pay_url"sv, "amount"sv}) CHECK_EQ(text_field(*null_data->data, key), ""sv);
        for (std::string_view key : {"pay_status"sv, "settle_status"sv, "refund_status"sv}) {
            CHECK_EQ(int_field(*null_data->data, key), 0);
        }
    }

    // Moving the Envelope keeps `data` valid; the body need not outlive it.
    std::string body = R"({"data":{"order_id":"O-1","pay_status":2}})";
    auto first = decode_envelope(200, body);
    body.assign(body.size(), '#');
    CHECK(first.has_value());
    if (first) {
        const vemrat::core::json::Value* data = first->data;
        vemrat::core::Envelope moved = std::move(*first);
        CHECK(moved.data == data);
        CHECK_EQ(text_field(*moved.data, "order_id"), "O-1"sv);
        CHECK_EQ(int_field(*moved.data, "pay_status"), 2);
    }
}

TEST_CASE(envelope_text_field_rule) {
    struct Row {
        std::string data;
        std::string_view key;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {R"({"order_id":"A-1"})", "order_id", "A-1"},
        {R"({"order_id":123})", "order_id", ""},
        {R"({"order_id":null})", "order_id", ""},
        {R"({"order_id":true})", "order_id", ""},
        {R"({"order_id":["A"]})", "order_id", ""},
        {R"({"order_id":{"v":"A"}})", "order_id", ""},
        {R"({"order_id":""})", "order_id", ""},
        {R"({"order_id":"A","order_id":"B"})", "order_id", "B"},
        {R"({"order_id":"A","order_id":1})", "order_id", ""},
        {R"({"Order_id":"A"})", "order_id", ""},
        {R"({"pay_url":"https:\/\/p.example\/x?a=1\u0026b=\u00e9"})", "pay_url", "https://p.example/x?a=1&b=\xC3\xA9"},
        {R"({"expired":"a\u0000b"})", "expired", "a\0b"s},
        {R"(["order_id","A"])", "order_id", ""},
        {R"("order_id")", "order_id", ""},
        {R"(null)", "order_id", ""},
        {R"(12)", "order_id", ""},
    };
    for (const Row& row : rows) {
        ROW(row.data + " key " + std::string(row.key));
        auto parsed = vemrat::core::json::parse_json(row.data);
        CHECK(parsed.has_value());
        if (!parsed) continue;
        CHECK_EQ(text_field(parsed->root(), row.key), row.expected);
    }
}

TEST_CASE(envelope_int_field_rule) {
    struct Row {
        std::string value;
        std::int32_t expected;
    };
    const std::vector<Row> rows = {
        {"7", 7},
        {"0", 0},
        {"-5", -5},
        {"-0", 0},
        {R"("1")", 0},
        {"1.0", 0},
        {"1e2", 0},
        {"4294967297", 1},
        {"4294967296", 0},
        {"2147483647", 2147483647},
        {"2147483648", -2147483648},
        {"-2147483648", -2147483648},
        {"-2147483649", 2147483647},
        {"9223372036854775807", -1},
        {"9223372036854775808", 0},
        {"18446744073709551615", 0},
        {"-9223372036854775808", 0},
        {"-9223372036854775807", 1},
        {"-9223372036854775809", 0},
        {"18446744073709551616", 0},
        {"true", 0},
        {"false", 0},
        {"null", 0},
        {"[1]", 0},
        {R"({"v":1})", 0},
    };
    for (const Row& row : rows) {
        ROW("value " + row.value);
        auto parsed = vemrat::core::json::parse_json(R"({"pay_status":)" + row.value + "}");
        CHECK(parsed.has_value());
        if (!parsed) continue;
        CHECK_EQ(int_field(parsed->root(), "pay_status"), row.expected);
        CHECK_EQ(int_field(parsed->root(), "settle_status"), 0);  // missing member
    }

    // A status answer with a string, a double and a wide integer.
    auto decoded = decode_envelope(200, R"({"data":{"pay_status":"1","settle_status":1.0,"refund_status":4294967297}})");
    CHECK(decoded.has_value());
    if (decoded) {
        CHECK_EQ(int_field(*decoded->data, "pay_status"), 0);
        CHECK_EQ(int_field(*decoded->data, "settle_status"), 0);
        CHECK_EQ(int_field(*decoded->data, "refund_status"), 1);
    }
    // data not an object.
    for (std::string_view data : {"[7]"sv, "7"sv, R"("7")"sv, "null"sv}) {
        auto parsed = vemrat::core::json::parse_json(data);
        CHECK(parsed && int_field(parsed->root(), "pay_status") == 0);
    }
    // Last member wins.
    auto repeated = vemrat::core::json::parse_json(R"({"pay_status":1,"pay_status":"x","pay_status":3})");
    CHECK(repeated && int_field(repeated->root(), "pay_status") == 3);
}
