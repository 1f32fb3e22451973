#include <cstdlib>
#include <optional>
#include <string>

#include "check.hpp"
#include "core/config/base_url.hpp"

namespace {

// Sets or clears VEMRAT_PAY_BASE_URL for one scope and puts back what was there.
class BaseUrlVariable {
public:
    explicit BaseUrlVariable(const std::optional<std::string>& value) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    BaseUrlVariable(const BaseUrlVariable&) = delete;
    BaseUrlVariable& operator=(const BaseUrlVariable&) = delete;
    ~BaseUrlVariable() {
        if (saved_) {
            ::setenv(name, saved_->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

private:
    static constexpr const char* name = "VEMRAT_PAY_BASE_URL";
    std::optional<std::string> saved_;
};

}  // namespace

TEST_CASE(default_base_url_shape) {
    CHECK_EQ(vemrat::core::DEFAULT_BASE_URL.size(), 22u);
    CHECK(vemrat::core::DEFAULT_BASE_URL.starts_with("https://"));
    CHECK(!vemrat::core::DEFAULT_BASE_URL.ends_with("/"));
    CHECK_EQ(vemrat::core::DEFAULT_BASE_URL.find('/', 8), std::string_view::npos);
    CHECK_EQ(std::string_view(vemrat::core::BASE_URL_VARIABLE), "VEMRAT_PAY_BASE_URL");
}

TEST_CASE(base_url_rows) {
    const std::string fallback(vemrat::core::DEFAULT_BASE_URL);
    struct Row {
        const char* name;
        std::optional<std::string> variable;
        std::string url;
    };
    const Row rows[] = {
        {"unset", std::nullopt, fallback},
        {"set", "http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"trailing slash kept", "https://pay.example/", "https://pay.example/"},
        {"with a path", "https://pay.example/api", "https://pay.example/api"},
        {"empty", "", ""},
        {"blanks kept", "  https://pay.example \t", "  https://pay.example \t"},
        {"not a URL, still used", "not a url", "not a url"},
        {"non-ASCII UTF-8", "https://p\u00e4y.example", "https://p\u00e4y.example"},
        {"invalid UTF-8", "https://pay\xff.example", fallback},
        {"encoded surrogate", "https://\xed\xa0\x80", fallback},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        const BaseUrlVariable variable(row.variable);
        CHECK_EQ(vemrat::core::base_url(), row.url);
    }
}

TEST_CASE(base_url_read_on_every_call) {
    const std::string first = "https://one.example";
    const std::string second = "https://two.example";
    const BaseUrlVariable variable(first);
    CHECK_EQ(vemrat::core::base_url(), first);
    ::setenv("VEMRAT_PAY_BASE_URL", second.c_str(), 1);
    CHECK_EQ(vemrat::core::base_url(), second);
    ::unsetenv("VEMRAT_PAY_BASE_URL");
    CHECK_EQ(vemrat::core::base_url(), std::string(vemrat::core::DEFAULT_BASE_URL));
}
