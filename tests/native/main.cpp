#include "check.hpp"

#include <cstdio>
#include <cstring>

namespace check {

namespace {
int failures_in_case = 0;
}

std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

std::string& context() {
    static std::string row;
    return row;
}

void record_failure(const char* file, int line, const std::string& what) {
    ++failures_in_case;
    std::cerr << file << ":" << line << ": " << what << "\n";
}

std::string show_text(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
    return out + "\"";
}

}  // namespace check

// Usage: native_tests [substring]  runs the cases whose name contains the substring.
int main(int argc, char** argv) {
    const char* filter = argc > 1 ? argv[1] : "";
    int passed = 0;
    int failed = 0;
    for (const check::Case& test : check::registry()) {
        if (std::strstr(test.name, filter) == nullptr) continue;
        check::failures_in_case = 0;
        test.run();
        if (check::failures_in_case == 0) {
            ++passed;
        } else {
            ++failed;
            std::cerr << "FAILED " << test.name << "\n";
        }
    }
    std::cout << "native: " << passed << " passed, " << failed << " failed\n";
    return failed == 0 && passed > 0 ? 0 : 1;
}
